/* SPDX-License-Identifier: LGPL-2.1-or-later */
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
 *
 * Wire trace: with the environment variable LYRALINK_LOG=stderr (or a file
 * path, appended to) when a link is opened, every frame sent and received
 * on it is written as one line with time, link, bytes and status. Off when
 * unset; it never changes a result.
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

/* ---------------------------------------------------------------------
 * Discovery: find analysers, choose one, open the link
 * ------------------------------------------------------------------- */

/* Selection parameter block of COMM_INIT_SELECT: 24 bytes, little-endian.
 * The library starts from the defaults and copies the first `length` bytes
 * (at most 24) of the caller's block over them; fields are written back only
 * when `length` covers them. Flags count as set when nonzero. */
typedef struct LYRA_SELECT_PARAM {
  uint16_t length;            /*  0: valid bytes (default 24) */
  uint16_t serial;            /*  2: nonzero: take the first entry with this serial number (0) */
  uint16_t admit_310;         /*  4: an MCA-310 may be applicable (0) */
  uint16_t min_fw_310;        /*  6: lowest applicable MCA-310 firmware (0xFFFF) */
  uint16_t admit_740;         /*  8: an MCA-740 may be applicable (0xFFFF) */
  uint16_t min_fw_740;        /* 10: lowest applicable MCA-740 firmware (0x1116) */
  uint16_t splash;            /* 12: splash window during the first search (0) */
  uint16_t dialogs;           /* 14: wait window and selection dialog (0xFFFF) */
  uint16_t port;              /* 16: in: port filter for automatic selection, 0xFFFF any;
                                     out (length >= 18): port identifier of the link */
  uint16_t reserved;          /* 18: neither read nor written */
  uint32_t baud;              /* 20: out (length >= 22): bit rate after the baud adjustment */
} LYRA_SELECT_PARAM;

/* Finds every analyser on the serial ports COM1-COM256, on the USB bridges
 * the bridge driver library lists (libftd2xx.so, loaded when present), and
 * on the local networks (broadcast and the remembered special IPs);
 * classifies each (applicable, unsuitable, in use, inoperable), takes the
 * first one with the wanted serial number that is not in use and passes the
 * port filter, or lets the user choose in the selection dialog; closes every
 * other port, opens the link on the chosen one and moves a serial or USB
 * link to its highest bit rate. block may be null (all defaults); only its
 * first `length` bytes (at most 24) are read, and `port` (length >= 18) and
 * `baud` (length >= 22) are written back. timeout: answer timeout in ms (at
 * least 850); retries: attempts per transaction (at least 1). owner is the
 * caller's window (a QWidget*) or null. An Ethernet analyser chosen at the
 * special IP typed in the dialog is remembered for later searches.
 * Returns 1 when a serial, USB or Ethernet link is open afterwards, 0
 * otherwise (nothing found or chosen, dialog cancelled, a link was already
 * open, or the USB device was lost during the baud adjustment). Blocks for
 * at least two seconds; without a display the dialog counts as cancelled. */
int16_t COMM_INIT_SELECT(void* block, int32_t timeout, int32_t retries, void* owner);

/* Ethernet-only search for analysers (broadcast to the local networks,
 * answers collected for 1 s). serial: only the low 16 bits count; nonzero
 * takes the first analyser with that serial number that is not in use, 0
 * lets the user choose in the head selection dialog (parent owner), or
 * shows "No Lyra's detected." when none answered. timeout and retries as
 * for COMM_INIT_SELECT. Returns 1 when an Ethernet link is open afterwards,
 * 0 otherwise (also when a link was already open). */
int16_t COMM_INIT_ETHERNET(int32_t serial, int32_t timeout, int32_t retries, void* owner);

/* As COMM_INIT_ETHERNET for the Trebla measuring heads: every analyser that
 * answers is asked for its head identity (1 s each); those that are no head
 * are dropped. serial is the analyser serial number of the head's first
 * answer; a head that answers as in use is taken too. "No measuring heads
 * detected." when none is found and the user was to choose. Returns 1 when
 * an Ethernet link is open afterwards, else 0. */
int16_t COMM_INIT_ETHERNET_TREBLA(int32_t serial, int32_t timeout, int32_t retries, void* owner);

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

/* ---------------------------------------------------------------------
 * USB serial helpers for the analysers' USB-serial bridge (vendor 0403,
 * product 6001). Results: -1 (0xFFFF) for yes/success, 0 for no/failure.
 * On Linux a port is a bridge port when its tty sits on such a USB device
 * in sysfs; its latency timer is the tty's device/latency_timer attribute.
 * ------------------------------------------------------------------- */

/* -1 when the serial port port ("COM4"; letter case ignored) belongs to
 * the bridge, else 0 (also for a null or unknown port). */
int16_t IS_USB_PORT(const char* port);

/* -1 when the open link runs over the bridge (its serial port, or the
 * direct USB channel), else 0 (Ethernet, Multiplex, no link). */
int16_t IS_CURRENT_USB_PORT(void);

/* Sets the latency timer of the bridge port port to milliseconds. -1 when
 * a new value was written; 0 when it already had that value, port is no
 * bridge port, or the write was refused (e.g. no permission). */
int16_t SET_LATENCY_TIMER_EX(const char* port, int32_t milliseconds);

/* SET_LATENCY_TIMER_EX(port, 8). */
int16_t SET_LATENCY_TIMER(const char* port);

/* Sets the latency timer of the open bridge link. On its serial port the
 * link is closed, the value written and the link reopened with the same
 * parameters: -1 when the value changed and the reopen succeeded, else 0
 * (a failed reopen leaves no link open). On the direct USB channel the low
 * 8 bits are set: -1 on success. 0 on any other link. */
int16_t SET_CURRENT_LATENCY_TIMER(int32_t milliseconds);

/* -1 and the latency timer of the open bridge link in *milliseconds, or 0
 * (no bridge link, unreadable, or milliseconds null: nothing written). */
int16_t GET_CURRENT_LATENCY_TIMER(int32_t* milliseconds);

/* Switches the analyser's USB charger on (on != 0) or off: DTR raised,
 * RTS set, DTR dropped, about 1 ms apart. Serial port and direct USB links
 * only; nothing on others. */
void SET_USB_CHARGER(int16_t on);

/* -1 when the charger is on (CTS off), else 0 (also without a serial port
 * or direct USB link). */
int16_t GET_USB_CHARGER(void);

/* -1 when the analyser is charging (DSR off), else 0. */
int16_t GET_USB_CHARGER_STATE(void);

/* Does nothing. */
void USB_TEST(void);

/* ---------------------------------------------------------------------
 * Command set
 *
 * Every command function returns a status (0 success, 1 no link open and
 * nothing sent, otherwise the transaction's status) and sets all three
 * parameter words of its frame; words not named below are 0. Packing:
 * w(x) = low 16 bits of x in one word, d(x) = all 32 bits in two words
 * (low half first), b(x) = low 8 bits in one parameter byte.
 *
 * "answer" buffers take 132 bytes of answer data, copied after the
 * transaction whatever its status. "buffer" arguments take a long data
 * block of the size given, written only on success. A null buffer is never
 * written (the command still runs); a null input pointer (address, values,
 * text to send, data) gives status 4 and nothing is sent.
 * ------------------------------------------------------------------- */

/* Generic command entry: runs the command whose table name is `name`
 * (e.g. "CMD_INIT" or "init"; ASCII case is ignored, the whole string must
 * match) with p1..p6 packed as that command's row says. The 132 bytes of
 * raw, undecoded answer data go to answer whatever the status. 1 without a
 * link, 2 for an unknown name (in both cases nothing is sent and answer is
 * untouched). No range checks; commands answered by a long block run as
 * short transactions here. */
int16_t MCA_COMM6(const char* name, void* answer, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5,
                  int32_t p6);
/* MCA_COMM6 with p5 = p6 = 0. */
int16_t MCA_COMM(const char* name, void* answer, int32_t p1, int32_t p2, int32_t p3, int32_t p4);

/* ---- acquisition and setting commands ---- */

int16_t LYRA_RESET(void);                            /* code 65 */
int16_t LYRA_START_ACQUIRE(int32_t a1, int32_t a2);  /* 66: w(a1), d(a2) */
int16_t LYRA_STOP_ACQUIRE(void);                     /* 67 */
int16_t LYRA_CLEAR_MEMORY(void);                     /* 68, word 1 = 0 */
int16_t LYRA_CLEAR_TIME(void);                       /* 68, word 1 = 1 */
int16_t LYRA_CLEAR_ROI(void);                        /* 68, word 1 = 2 */
int16_t LYRA_CLEAR_ALL(void);                        /* 68, word 1 = 3 */
int16_t LYRA_SET_MODE_MCA(void);                     /* 69, word 1 = 0 */
int16_t LYRA_SET_MODE_MCS(void);                     /* 69, word 1 = 1 */
/* MCS mode (69, word 1 = 1), then on success the MCS input (85, word 1 =
 * 0 TTL, 2 discriminator, 1 ICR). A failed first step is returned and the
 * second is not sent. */
int16_t LYRA_SET_MODE_MCS_TTL(void);
int16_t LYRA_SET_MODE_MCS_DISCR(void);
int16_t LYRA_SET_MODE_MCS_ICR(void);
int16_t LYRA_SET_MCS_INPUT_TTL(void);                 /* 85, word 1 = 0 */
int16_t LYRA_SET_MCS_INPUT_DISCR(void);               /* 85, word 1 = 2 */
int16_t LYRA_SET_MCS_INPUT_ICR(void);                 /* 85, word 1 = 1 */
int16_t LYRA_SET_ADC_RES_DISCR(int32_t a1, int32_t a2, int32_t a3); /* 70: w(a1), w(a2), w(a3) */
int16_t LYRA_SET_THRESHOLD(int32_t a1);               /* 71: w(a1) */
/* Presets (72): word 1 = kind (0 none, 1 real time, 2 live time,
 * 3 integral, 4 area, 5 real time in ms), words 2-3 = d(value). */
int16_t LYRA_SET_PRESET_NONE(void);
int16_t LYRA_SET_PRESET_REAL_TIME(int32_t value);
int16_t LYRA_SET_PRESET_LIVE_TIME(int32_t value);
int16_t LYRA_SET_PRESET_INTEGRAL(int32_t value);
int16_t LYRA_SET_PRESET_AREA(int32_t value);
int16_t LYRA_SET_PRESET_REAL_TIME_MILLISECONDS(int32_t value);
int16_t LYRA_SET_ROI(int32_t a1, int32_t a2);          /* 73: w(a1), w(a2) */
int16_t LYRA_SET_REPEAT(int32_t a1);                   /* 74: w(a1) */
int16_t LYRA_SET_TIME_PER_CHANNEL(int32_t a1);         /* 75: w(a1) */
int16_t LYRA_SET_TIME_PER_CHANNEL740(int32_t value);   /* 277: d(value) in words 1-2 */
int16_t LYRA_SET_GAIN(int32_t a1, int32_t a2);         /* 76: coarse w(a1), fine w(a2) */
int16_t LYRA_SET_STABILISATION(int32_t a1, int32_t a2, int32_t a3); /* 77: w(a1), w(a2), w(a3) */
int16_t LYRA_SET_PREAMPLIFIER_POWER(int32_t a1);       /* 78: w(a1) */
int16_t LYRA_SET_HIGH_VOLTAGES(int32_t a1, int32_t a2); /* 79: volts w(a1), d(a2) in words 2-3 */
int16_t LYRA_SET_FAST(int32_t a1);                      /* 80: w(a1) */
int16_t LYRA_SET_SLOW(int32_t a1);                      /* 81: w(a1) */
int16_t LYRA_SET_SHAPING_TIME_LOW(void);                /* 82, word 1 = 1 */
int16_t LYRA_SET_SHAPING_TIME_HIGH(void);               /* 82, word 1 = 3 */
int16_t LYRA_SET_PILE_UP_REJECTION(int32_t a1);         /* 83: w(a1) */
int16_t LYRA_SET_MCA_INPUT_AMPLIFIER(void);             /* 84, word 1 = 0 */
/* Amplifier input (84, word 1 = 0), then on success the polarity (86,
 * word 1 = 0 positive, 1 negative). */
int16_t LYRA_SET_MCA_INPUT_AMPLIFIER_POS(void);
int16_t LYRA_SET_MCA_INPUT_AMPLIFIER_NEG(void);
int16_t LYRA_SET_MCA_INPUT_DIRECT(void);                /* 84, word 1 = 5 */
int16_t LYRA_SET_MCA_INPUT_DIRECT_POS(void);            /* 84, word 1 = 3 */
int16_t LYRA_SET_MCA_INPUT_DIRECT_NEG(void);            /* 84, word 1 = 4 */
int16_t LYRA_SET_INPUT_POLARITY_POS(void);              /* 86, word 1 = 0 */
int16_t LYRA_SET_INPUT_POLARITY_NEG(void);              /* 86, word 1 = 1 */
int16_t LYRA_SET_USER_DATA(int32_t a1, int32_t value);  /* 87: word index w(a1), d(value) */
/* PZC (88) with word 1 = 15 (manual) or 0 (value), word 2 = w(a1); the
 * 132 bytes of answer data go to answer whatever the status. */
int16_t LYRA_SET_PZC_MANUAL(int32_t a1, void* answer);
int16_t LYRA_SET_PZC_VALUE(int32_t a1, void* answer);
int16_t LYRA_SET_PZC_AUTOMATED(void);                   /* 88, word 1 = 0xFFFF */
int16_t LYRA_SET_PZC_TIME_OFFSET(int32_t a1, int32_t a2); /* 96: w(a1), w(a2) */
int16_t LYRA_SET_TDF(int32_t a1);                       /* 97: w(a1) */
int16_t LYRA_SET_MCS_CHANNEL(int32_t a1);               /* 99: w(a1) */
int16_t LYRA_SET_UF6_ROIS(int32_t a1, int32_t a2, int32_t a3); /* 100: w(a1), w(a2), w(a3) */
int16_t LYRA_SET_STAB_PARAM(int32_t a1, int32_t value);  /* 103: w(a1), d(value) */
int16_t LYRA_SET_TRIGGER_FILTER(int32_t a1, int32_t a2); /* 259: w(a1), w(a2) */
/* Device clock (260) from the host's local time: packed device time
 * (seconds bits 0-5, minutes 6-11, hours 12-16, days since 2008-01-01
 * 00:00:00 local time in bits 17-31) in words 1-2. 4 and nothing sent when
 * the host clock is before 2008 or more than 32767 days after. */
int16_t LYRA_SET_TIME(void);
int16_t LYRA_SET_GENERAL_MODE(int32_t a1);                /* 261: w(a1) */
int16_t LYRA_SET_TRIGGER_PARAM(int32_t a1, int32_t value); /* 262: w(a1), d(value) */
int16_t LYRA_SET_OFFSET_DAC(int32_t a1);                  /* 266: w(a1) */
/* 267: the 4 bytes at address, in memory order, in parameter bytes 0-3. */
int16_t LYRA_SET_IP_ADDRESS(const void* address);
int16_t LYRA_SET_SHAPING_TIME_PAIR(int32_t a1, int32_t a2); /* 268: w(a1), w(a2) */
int16_t LYRA_SET_THRESHOLD_TENTHS(int32_t a1);              /* 269: w(a1) */
int16_t LYRA_SET_GATING(int32_t a1, int32_t a2, int32_t a3); /* 271: bytes 0-2 = b(a1), b(a2), b(a3) */
/* 273: byte 0 = b(a1), byte 1 = b(a2), word 2 = w(a3), word 3 = w(a4). */
int16_t LYRA_SET_OSCI_TRIGGER(int32_t a1, int32_t a2, int32_t a3, int32_t a4);
int16_t LYRA_SET_FLAT_TOP_TIME(int32_t a1);              /* 275: w(a1) */
int16_t LYRA_SET_EVAL_FILTER_TYPE(int32_t a1);           /* 276: w(a1) */
int16_t LYRA_SET_JITTER_CORRECTION(int32_t a1);          /* 278: w(a1) */
int16_t LYRA_SET_COMMON_MEMORY_FILL_STOP(int32_t value); /* 279: bytes to record, d(value) */
int16_t LYRA_SET_BASELINE_RESTORING(int32_t a1);         /* 280: low 8 bits of a1 */
int16_t LYRA_SET_PIN5_CURRENT_SOURCE(int32_t a1);        /* 281: low 8 bits of a1 */
/* 304, eleven frames: word 1 = 0xFFFF with word 2 = w(a1), then word 1 =
 * i with d(values[i]) for the ten 32-bit values. Stops at the first
 * failure and returns it. */
int16_t LYRA_SET_AHRC_PARAM(int32_t a1, const int32_t* values);
int16_t LYRA_SET_GATING_TIME_WINDOW_WIDTH(int32_t a1, int32_t value); /* 306: w(a1), d(value) */

/* ---- queries ---- */

/* Voltage and current readings (5): ten 32-bit readings in bytes 0-39,
 * rescaled (x 2551, 249, 1192, 9766, 6000, 6000, 249, 249, 249, 249, then
 * / 1024). With flag (low 16 bits) nonzero, reading 5 becomes
 * (raw x 1000 / 1024) - 200 instead. */
int16_t LYRA_QUERY_VOLTAGE_CURRENT(void* answer);
int16_t LYRA_QUERY_VOLTAGE_CURRENT_EX(void* answer, int32_t flag);
/* 89. Offset 40: actual high voltage in volts (32 bits), 0 when off. */
int16_t LYRA_QUERY_POWER(void* answer);
/* 90. Offsets: 48 coarse gain, 56 HV set value (V), 58 HV polarity
 * (0 positive), 128 acquisition state (16 bits each). */
int16_t LYRA_QUERY_STATE(void* answer);
/* 90, status only: 0 when the analyser answers. */
int16_t LYRA_QUERY_ON_LINE(void);
int16_t LYRA_QUERY_SPECTRA(int32_t a1, int32_t a2, void* answer); /* 91: w(a1), d(a2) */
/* Spectrum counts: the older query 91 (word 1 = first + selector x 4096,
 * word 2 = count) when first < 4096, count <= 32 and selector < 16, else
 * the newer 258 (words 1-3 = first, count, selector). */
int16_t LYRA_QUERY_SPECTRA_EX(int32_t first, int32_t count, int32_t selector, void* answer);
int16_t LYRA_QUERY_IMAGE(int32_t a1, int32_t a2, int32_t a3, void* answer); /* 92: w(a1), w(a2), w(a3) */
/* 93 for the channel ranges a1..a2 and a3..a4: bytes 0, 1 = the two
 * widths (low 8 bits), word 2 = a1, word 3 = a3. */
int16_t LYRA_QUERY_ENRICHMENT(int32_t a1, int32_t a2, int32_t a3, int32_t a4, void* answer);
/* 94: user data page w(a1); with a1 = 0, offset 16 holds word 4, the
 * application code (4 ASCII characters). */
int16_t LYRA_QUERY_USER_DATA(int32_t a1, void* answer);
int16_t LYRA_QUERY_CENTROID(int32_t a1, int32_t a2, void* answer); /* 95: w(a1), w(a2) */
/* 98. Bytes 122-123 of 0, 0 are returned as 10, 20. */
int16_t LYRA_QUERY_SYSTEM_DATA(void* answer);
int16_t LYRA_QUERY_UF6_ROIS(void* answer); /* 101 */
int16_t LYRA_QUERY_UF6_INFO(void* answer); /* 102 */
/* 257. Offsets: 2 firmware version (16), 8 feature flags (32), 64 highest
 * HV in volts (16), 128 acquisition state (16). The device clock comes
 * decoded: 12-13 year, 14 month, 15 day, 16 hour, 17 minute, 18 second. */
int16_t LYRA_QUERY_STATE740(void* answer);
/* 272. Offsets: 0 common memory size in bytes (32), 104 sample rate in
 * kHz (16). */
int16_t LYRA_QUERY_STATE740_EX(void* answer);
int16_t LYRA_QUERY_STATE740_EX2(void* answer); /* 303 */
/* 263: common (signal) memory from sample d(a1); buffer of 1440 bytes
 * (720 samples of 16 bits, low 14 bits the signal). */
int16_t LYRA_QUERY_COMMON_MEMORY(int32_t a1, void* buffer);
int16_t LYRA_QUERY_HISTOGRAM(int32_t a1, int32_t a2, void* buffer); /* 265: w(a1), w(a2); 1024 bytes */
int16_t LYRA_QUERY_FILTER(int32_t a1, void* buffer);          /* 270: w(a1); 1452 bytes */
int16_t LYRA_QUERY_OSCI_SCREEN(int32_t a1, void* buffer);     /* 274: d(a1); 1008 bytes */
int16_t LYRA_QUERY_ADJUSTMENT_TABLE(void* answer);            /* 294 */
int16_t LYRA_QUERY_OSCI_SCREEN_EX(int32_t a1, void* buffer);  /* 297: w(a1); 1444 bytes */
/* 298: a block of 1444 bytes; when the low 16 bits of flag are nonzero a
 * second one (word 1 = 1) whose bytes 4-1443 follow at buffer offset 1444.
 * buffer: 1444 bytes for flag 0, else 2884. A failed second part leaves
 * the first in place and returns the failure. */
int16_t LYRA_QUERY_OSCI_TRIGGER_FILTER_RESULTS(int32_t flag, void* buffer);
int16_t LYRA_QUERY_OSCI_MAIN_FILTER_RESULTS(void* buffer);    /* 299; 1442 bytes */
int16_t LYRA_QUERY_BASELINE(void* answer);                    /* 300 */
int16_t LYRA_QUERY_CLUSTER(int32_t a1, int32_t a2, void* buffer); /* 302: d(a1), word 3 = w(a2); 1032 bytes */
int16_t LYRA_QUERY_AHRC_HISTOGRAM(int32_t a1, void* buffer); /* 305: w(a1); 1440 bytes */
int16_t LYRA_QUERY_F_HISTOGRAM(int32_t a1, void* buffer);    /* 516: w(a1); 1440 bytes */
int16_t LYRA_QUERY_UNALTERABLE_STATE(void* answer);          /* 65532 */

/* ---- extension port, detector information, files ---- */

int16_t LYRA_QUERY_EEPROM_INFO(void* buffer); /* 264; 1024 bytes */
/* 282: parameter bytes 0-5 = b(a1) .. b(a6). */
int16_t LYRA_SET_EXTENSION_PORT(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6);
int16_t LYRA_SET_EXTENSION_POLARITY(int32_t a1, int32_t a2);         /* 283: w(a1), w(a2) */
int16_t LYRA_SET_EXTENSION_PULSER_PERIOD(int32_t a1, int32_t value); /* 284: w(a1), d(value) */
int16_t LYRA_SET_EXTENSION_PULSER_WIDTH(int32_t a1, int32_t value);  /* 285: w(a1), d(value) */
int16_t LYRA_SET_EXTENSION_RS232(int32_t a1, int32_t a2);            /* 286: w(a1), byte 2 = b(a2) */
int16_t LYRA_SET_EXTENSION_OUTPUT(int32_t a1, int32_t a2, int32_t a3); /* 292: w(a1), w(a2), w(a3) */
/* 293: extension receive block, 1026 bytes: a 16-bit count N, then 1024
 * bytes whose last N are the received ones. */
int16_t LYRA_QUERY_EXTENSION_RS232_RX(int32_t a1, void* buffer);
int16_t LYRA_SET_TTL_LEVELS(int32_t a1, int32_t a2);     /* 295: w(a1), w(a2) */
int16_t LYRA_SET_CORE_CLOCK(int32_t a1);                 /* 301: w(a1) */
int16_t LYRA_QUERY_DETECTOR_INFO(int32_t a1, void* buffer); /* 307: page w(a1); 1024 bytes */
int16_t LYRA_DELETE_FILE_STEP1(int32_t a1, int32_t a2);  /* 309: d(a1), word 3 = w(a2) */
int16_t LYRA_DELETE_FILE_STEP2(int32_t a1, int32_t a2);  /* 310: d(a1), word 3 = w(a2) */
int16_t LYRA_QUERY_DEBUG_INFO(void* answer);             /* 513 */
int16_t LYRA_SET_TWI_EXPANDER(int32_t a1);               /* 514: w(a1) */
/* Sends text through the extension port's serial transmitter: clears it
 * (287), then six characters a frame (288); the last frame carries the 0-5
 * characters left, zero-filled, and is always sent. Stops at the first
 * failure. */
int16_t LYRA_WRITE_TO_EXTENSION(const char* text);
/* The received bytes of the extension receive block (293, word 1 = 0) as
 * a NUL-terminated text of at most L = low 16 bits of maxlen characters;
 * text must hold L + 1 bytes. A count above 1024 from the device is taken
 * as 1024. text is untouched when the transaction fails. */
int16_t LYRA_READ_FROM_EXTENSION(char* text, int32_t maxlen);
/* As LYRA_READ_FROM_EXTENSION with word 1 = w(a1), but the count is not
 * consulted: the last L bytes of the data area (all 1024 when L > 1024),
 * NUL-terminated; text must hold min(L, 1024) + 1 bytes. */
int16_t LYRA_READ_FROM_EXTENSION_EX(int32_t a1, char* text, int32_t maxlen);
/* Writes count (low 16 bits, 1 to 2048; else 4 and nothing sent) bytes of
 * detector description in chunks of up to four (308): word 1 = header
 * (0x40 first chunk, 0x80 last, byte count 1-4), data in parameter bytes
 * 2-5. Stops at the first failure. */
int16_t LYRA_WRITE_DETECTOR_INFO(const void* data, int32_t count);

#ifdef __cplusplus
}
#endif

#endif /* LYRALINK_H */
