/*
 * lyralink - device library for the MCA-310 and MCA-740 multichannel
 * analysers.
 *
 * One link per process: open it with one of the COMM_INIT functions, run
 * device commands, end with COMM_CLOSE. Every function is safe to call from
 * any thread (calls are serialised inside the library); none of them throws
 * or shows anything unless stated.
 *
 * Result styles, fixed per function:
 *  - status codes (int16_t): 0 success, 1 no link open, 3 no valid answer,
 *    2 and 4-10 device error words (7 is never retried); 2 also for an
 *    unknown command name (MCA_COMM), 4 also for an argument out of range;
 *  - link open: nonzero when the link is open, 0 when not;
 *  - yes/no (USB helpers): -1 for yes/success, 0 for no/failure.
 *
 * Buffers belong to the caller. A short answer is 132 bytes of answer data,
 * copied after every short transaction whatever its status; long data
 * blocks are copied only on success. A null buffer is never written.
 */
#ifndef LYRALINK_H
#define LYRALINK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------
 * Link: open, close, time-out, parameters
 * ------------------------------------------------------------------- */

/* Serial port link on "COMn" at 38400 baud, answer timeout 1000 ms,
 * 8 attempts per transaction, no transaction lock. Nonzero when open. */
int16_t COMM_INIT(const char* port);

/* As COMM_INIT with an answer timeout in ms (at least 850 is used). */
int16_t COMM_INIT_EX(const char* port, int32_t timeout);

/* As COMM_INIT_EX with the attempts per transaction (at least 1) and the
 * bit rate. */
int16_t COMM_INIT_EX2(const char* port, int32_t timeout, int32_t retries, int32_t baud);

/* Opens a link: port is "COMn" (serial port; names longer than 7
 * characters are refused) or a Multiplex name "MPLXn#c" (c = 1..3) that
 * attaches to a running Multiplex server for serial port n. lock nonzero
 * takes the machine-wide transaction lock around every exchange, so that
 * several processes using it never interleave. Returns nonzero when the
 * link is open, 0 when not (also when a link is already open). The answer
 * timeout and retry count are stored even when the open fails. */
int16_t COMM_INIT_EX3(const char* port, int32_t timeout, int32_t retries, int32_t baud, uint16_t lock);

/* Ethernet link to a dotted IPv4 address (at most 15 characters), UDP
 * port 50000. Returns 1 when set up, 0 when not. Nothing is sent: whether
 * a device answers shows at the first command. */
int16_t COMM_INIT_ETHERNET_IP(const char* address, int32_t timeout, int32_t retries);

/* Ends whatever link is open. The UDP socket stays for the next Ethernet
 * link. */
void COMM_CLOSE(void);

/* Destroys the UDP socket; an open Ethernet link is closed first. */
void COMM_TERMINATE_ETHERNET(void);

/* Sets the answer timeout in ms (at least 850); applies from the next
 * attempt. Returns 1 (callers may ignore it). */
int16_t SET_TIMEOUT(int32_t timeout);

/* Fills the link parameter record. Its first 16-bit word is set by the
 * caller to the record size in bytes; the library writes only what that
 * size covers:
 *   offset 2, int16_t : port identifier (size >= 4): -1 none, -2 Multiplex,
 *                       0 Ethernet (or never opened), n for COMn,
 *                       0x0101/0x0102 direct USB
 *   offset 4, uint32_t: baud rate (size >= 8)
 *   offset 8, uint16_t: COM number of a direct USB device, else 0 (size >= 12)
 */
void GET_COMM_PARAM(void* record);

/* @@USB-HELPERS@@ */

/* @@COMMANDS@@ */

#ifdef __cplusplus
}
#endif

#endif /* LYRALINK_H */
