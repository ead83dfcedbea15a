// SPDX-License-Identifier: LGPL-2.1-or-later
// The Win32 backends of the platform layer that need no device: error
// kinds and texts, port names, the environment, DLL loading, log and output
// files, the terminal check, the version block, and the library's windows
// without a windows module.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "lyralink/discovery/windows.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/environment.h"
#include "platform/log_file.h"
#include "platform/output_file.h"
#include "platform/port_names.h"
#include "platform/system_error.h"
#include "platform/terminal.h"
#include "platform/version_info.h"
#include "tests/support/emulator.h"

namespace plat = lyralink::platform;
using plat::ErrorKind;

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string own_path() {
  char buf[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  return std::string(buf, n);
}

TEST(Win32Errors, EachCodeHasTheKindCallersDecideOn) {
  const struct {
    DWORD code;
    ErrorKind kind;
  } table[] = {
      {ERROR_SUCCESS, ErrorKind::none},
      {ERROR_FILE_NOT_FOUND, ErrorKind::not_found},
      {ERROR_PATH_NOT_FOUND, ErrorKind::not_found},
      {ERROR_ACCESS_DENIED, ErrorKind::permission_denied},
      {ERROR_SHARING_VIOLATION, ErrorKind::busy},
      {ERROR_LOCK_VIOLATION, ErrorKind::would_block},
      {WSAEWOULDBLOCK, ErrorKind::would_block},
      // A datagram socket's report of a refused earlier datagram.
      {WSAECONNRESET, ErrorKind::connection_refused},
      {WSAECONNREFUSED, ErrorKind::connection_refused},
      {ERROR_ALREADY_EXISTS, ErrorKind::already_exists},
      {ERROR_FILE_EXISTS, ErrorKind::already_exists},
      {WSAEINTR, ErrorKind::interrupted},
      {ERROR_DISK_FULL, ErrorKind::no_space},
      {ERROR_HANDLE_DISK_FULL, ErrorKind::no_space},
      {ERROR_INVALID_PARAMETER, ErrorKind::invalid_argument},
      // What modem-line calls on a line without modem lines answer.
      {ERROR_NOT_SUPPORTED, ErrorKind::not_supported},
      {ERROR_INVALID_FUNCTION, ErrorKind::not_supported},
      {ERROR_BROKEN_PIPE, ErrorKind::broken_pipe},
      {ERROR_NO_DATA, ErrorKind::broken_pipe},
      {WAIT_TIMEOUT, ErrorKind::timed_out},
      {WSAETIMEDOUT, ErrorKind::timed_out},
      {ERROR_GEN_FAILURE, ErrorKind::other},
  };
  for (const auto& row : table) {
    SetLastError(row.code);
    const plat::SystemError e = plat::last_system_error("op");
    EXPECT_EQ(e.kind, row.kind) << "code " << row.code;
    EXPECT_EQ(e.error_number, static_cast<int>(row.code));
  }
}

TEST(Win32Errors, MessagesNameTheOperationAndTheCode) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  const plat::SystemError e = plat::last_system_error("open C:\\nowhere");
  EXPECT_EQ(e.message().rfind("open C:\\nowhere: ", 0), 0u) << e.message();
  EXPECT_NE(e.reason().find("(error 2)"), std::string::npos) << e.reason();
  EXPECT_NE(e.reason().back(), '\n');
  const plat::SystemError none{"close", ErrorKind::none, 0};
  EXPECT_EQ(none.message(), "close");
  EXPECT_EQ(none.reason(), "");
}

TEST(Win32Errors, AFailedCreateReportsTheMissingDirectory) {
  const std::string path = lyratest::make_temp_dir("errors") + "\\no-such-dir\\file.txt";
  plat::SystemError error;
  EXPECT_EQ(plat::OutputFile::create(path, &error), nullptr);
  EXPECT_EQ(error.kind, ErrorKind::not_found) << error.message();
  EXPECT_EQ(error.operation, "create " + path);
}

TEST(Win32PortNames, ComNumbersOneTo256AreDevicePaths) {
  EXPECT_EQ(plat::resolve_serial_port("COM1"), "\\\\.\\COM1");
  EXPECT_EQ(plat::resolve_serial_port("COM10"), "\\\\.\\COM10");
  EXPECT_EQ(plat::resolve_serial_port("COM256"), "\\\\.\\COM256");
  // Device names are compared without regard to case.
  EXPECT_EQ(plat::resolve_serial_port("com7"), "\\\\.\\COM7");
  EXPECT_EQ(plat::resolve_serial_port("Com12"), "\\\\.\\COM12");
  for (const char* name : {"COM0", "COM257", "COM01", "COM", "COMx", "COM1 ", "LPT1", "\\\\.\\COM1", "COM1000000"}) {
    EXPECT_EQ(plat::resolve_serial_port(name), std::nullopt) << name;
  }
  EXPECT_EQ(plat::default_port_path(1), "\\\\.\\COM1");
  EXPECT_EQ(plat::default_port_path(0), std::nullopt);
  EXPECT_EQ(plat::default_port_path(257), std::nullopt);
}

TEST(Win32Environment, EmptyIsAValueAndUnsetIsNone) {
  const char* name = "LYRATEST_WIN32_ENVIRONMENT";
  ASSERT_TRUE(plat::set_environment_value(name, ""));
  EXPECT_EQ(plat::environment_value(name), std::string());
  const std::string longer(1000, 'x');  // beyond the first buffer
  ASSERT_TRUE(plat::set_environment_value(name, longer));
  EXPECT_EQ(plat::environment_value(name), longer);
  ASSERT_NE(SetEnvironmentVariableA(name, nullptr), 0);
  EXPECT_EQ(plat::environment_value(name), std::nullopt);
  EXPECT_FALSE(plat::set_environment_value("", "x"));
  EXPECT_FALSE(plat::set_environment_value("A=B", "x"));
}

TEST(Win32Environment, ChildrenInheritWhatIsSet) {
  ASSERT_TRUE(plat::set_environment_value("LYRATEST_WIN32_CHILD", "inherited value"));
  const std::string out = lyratest::make_temp_dir("child") + "\\out.txt";
  std::string command = "cmd.exe /c echo %LYRATEST_WIN32_CHILD%> \"" + out + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_NE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi), 0);
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(read_file(out).substr(0, 15), "inherited value");
}

TEST(Win32Environment, WindowsAlwaysNamesADisplay) { EXPECT_TRUE(plat::display_named()); }

TEST(Win32DynamicLibrary, LoadsBySearchAndResolvesSymbols) {
  std::string why;
  auto kernel = plat::DynamicLibrary::load("kernel32.dll", &why);
  ASSERT_NE(kernel, nullptr) << why;
  EXPECT_NE(kernel->symbol("GetTickCount"), nullptr);
  EXPECT_EQ(kernel->symbol("NoSuchFunctionAnywhere"), nullptr);
  EXPECT_EQ(plat::shared_library_file_name("lyralink-dialogs"), "lyralink-dialogs.dll");
  EXPECT_EQ(plat::bridge_driver_library_file_name(), "ftd2xx.dll");
}

TEST(Win32DynamicLibrary, AFileThatIsNoLibraryFailsWithTheLoadersReason) {
  std::string why;
  EXPECT_EQ(plat::DynamicLibrary::load("lyratest-no-such-library.dll", &why), nullptr);
  EXPECT_NE(why.find("lyratest-no-such-library.dll"), std::string::npos) << why;
  const std::string text = lyratest::make_temp_dir("dll") + "/not-a-library.dll";
  std::ofstream(text) << "plain text\n";
  why.clear();
  EXPECT_EQ(plat::DynamicLibrary::load_resident(text, &why), nullptr);
  EXPECT_FALSE(why.empty());
}

TEST(Win32DynamicLibrary, TheDirectoryOfTheProgramHoldsIt) {
  const std::string path = own_path();
  const std::string dir = plat::directory_of_loaded_file(reinterpret_cast<const void*>(&own_path));
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(path.substr(0, dir.size()), dir);
  EXPECT_EQ(path[dir.size()], '\\');
  EXPECT_EQ(path.find('\\', dir.size() + 1), std::string::npos);  // the file itself follows
  EXPECT_EQ(plat::directory_of_loaded_file(nullptr), "");
}

TEST(Win32LogFile, TwoWritersAppendWholeLinesInTurn) {
  const std::string path = lyratest::make_temp_dir("log") + "\\wire.log";
  std::ofstream(path, std::ios::binary) << "earlier\n";
  auto a = plat::LogFile::open_append(path);
  auto b = plat::LogFile::open_append(path);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(a->write("a1\n", 3));
  EXPECT_TRUE(b->write("b1\n", 3));
  EXPECT_TRUE(a->write("a2\n", 3));
  EXPECT_EQ(read_file(path), "earlier\na1\nb1\na2\n");
  EXPECT_EQ(a->name(), path);
  EXPECT_EQ(plat::current_process_id(), static_cast<plat::ProcessId>(GetCurrentProcessId()));
}

TEST(Win32LogFile, AMissingDirectoryIsNotFound) {
  plat::SystemError error;
  EXPECT_EQ(plat::LogFile::open_append(lyratest::make_temp_dir("log") + "\\none\\x.log", &error), nullptr);
  EXPECT_EQ(error.kind, ErrorKind::not_found) << error.message();
}

TEST(Win32OutputFile, CreateTruncatesAndAClosedFileRefusesWrites) {
  const std::string path = lyratest::make_temp_dir("out") + "\\trace.txt";
  std::ofstream(path) << "an older and longer content\n";
  auto f = plat::OutputFile::create(path);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->write("1\n2\n", 4));  // bytes as given: no CR added
  EXPECT_TRUE(f->close());
  EXPECT_TRUE(f->close());
  plat::SystemError error;
  EXPECT_FALSE(f->write("3\n", 2, &error));
  EXPECT_EQ(error.operation, "write " + path);
  EXPECT_EQ(read_file(path), "1\n2\n");
}

TEST(Win32Terminal, AFileAsStandardErrorIsNoTerminal) {
  const std::string path = lyratest::make_temp_dir("term") + "\\stderr.txt";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, file);
  const bool terminal = plat::standard_error_is_terminal();
  SetStdHandle(STD_ERROR_HANDLE, saved);
  CloseHandle(file);
  EXPECT_FALSE(terminal);
}

TEST(Win32Clock, SleepsLastTheirSpanAndCpuTimeGrows) {
  const uint64_t cpu_before = plat::process_cpu_time_us();
  const auto start = plat::Clock::now();
  plat::sleep_us(1500);
  plat::sleep_ms(3);
  EXPECT_GE(plat::Clock::now() - start, std::chrono::microseconds(4500));
  volatile uint64_t sum = 0;
  for (uint64_t i = 0; i < 20000000; ++i) sum = sum + i;
  EXPECT_GT(plat::process_cpu_time_us(), cpu_before);
  EXPECT_EQ(plat::milliseconds_until(start), 0);
}

TEST(Win32VersionInfo, TheProgramsVersionBlockIsRead) {
  auto info = plat::read_version_info(own_path());
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->file_version, 0x0001000200030004u);
  EXPECT_EQ(info->product_version, 0x0001000100000000u);
  EXPECT_EQ(info->string("ProductVersion"), "1.01.0000");
  EXPECT_EQ(info->string("FileVersion"), "1.2.3.4");
  EXPECT_EQ(info->string("SpecialBuild"), "lab");
  EXPECT_EQ(info->string("ProductName"), "lyralink");
  EXPECT_EQ(info->string("FileDescription"), "platform_win32_test");
  EXPECT_EQ(info->string("Comments"), std::nullopt);
}

TEST(Win32VersionInfo, FilesWithoutABlockHaveNone) {
  const std::string text = lyratest::make_temp_dir("version") + "\\plain.txt";
  std::ofstream(text) << "no version here\n";
  EXPECT_EQ(plat::read_version_info(text), std::nullopt);
  EXPECT_EQ(plat::read_version_info(text + ".missing"), std::nullopt);
}

// Windows has no windows module yet: the library behaves as with no
// display, even when a module file is named that does not load.
TEST(Win32Windows, WithoutAModuleNothingIsShownAndDialogsAreCancelled) {
  const std::string bogus = lyratest::make_temp_dir("dialogs") + "\\lyralink-dialogs.dll";
  std::ofstream(bogus) << "not a library\n";
  ASSERT_TRUE(plat::set_environment_value("LYRALINK_DIALOGS", bogus));
  auto& windows = lyralink::discovery::library_windows();
  EXPECT_NE(dynamic_cast<lyralink::discovery::NoDisplayWindows*>(&windows), nullptr);
  std::string ip = "10.0.0.1";
  EXPECT_EQ(windows.run_selection_dialog(nullptr, {{"MCA-740 #5", true}}, ip), lyralink::discovery::kDialogCancel);
  std::string address;
  EXPECT_EQ(windows.run_head_selection_dialog(nullptr, {"head"}, address), lyralink::discovery::kDialogCancelled);
}

}  // namespace
