// SPDX-License-Identifier: LGPL-2.1-or-later
// The Win32 backends of the network and the named objects, on real
// Winsock sockets on loopback, the real registry (the test prefix's) and
// real named objects shared with a second process (net_child.exe):
// datagram sizes, senders and waits, the refused datagram (10054), the
// host addresses, the registry as the settings store, and the Multiplex
// server's file mapping, events and mutex under their documented names.
//
// Measured differences of Wine, skipped here with their reason and nothing
// else: an unconnected UDP socket never reports 10054, and the registry
// enumerates a key's values alphabetically instead of in creation order.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "lyralink/discovery/host_addresses.h"
#include "lyralink/link/multiplex_layout.h"
#include "platform/named_semaphore.h"
#include "platform/network_interfaces.h"
#include "platform/settings_store.h"
#include "platform/shared_memory.h"
#include "platform/shared_mutex.h"
#include "platform/udp_socket.h"

namespace plat = lyralink::platform;
namespace mx = lyralink::link::multiplex;
using plat::ErrorKind;
using plat::RegistryRoot;
using plat::RegistryType;
using plat::RegistryValue;
using plat::SettingsStore;
using plat::UdpSocket;

namespace {

bool running_under_wine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Names of this process's own objects: the tests of one prefix share one
// object namespace and one registry.
std::string unique(const std::string& what) { return what + std::to_string(GetCurrentProcessId()); }

// net_child.exe (beside this program), its output on a pipe.
class Child {
 public:
  explicit Child(const std::string& args) {
    char own[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
    std::string path(own, n);
    path = path.substr(0, path.find_last_of('\\') + 1) + "net_child.exe";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out_write = nullptr, in_read = nullptr;
    if (!CreatePipe(&out_, &out_write, &inherit, 0)) return;
    if (!CreatePipe(&in_read, &in_, &inherit, 0)) {
      CloseHandle(out_write);
      return;
    }
    SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(in_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = out_write;
    start.hStdError = out_write;
    start.hStdInput = in_read;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + path + "\" " + args;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
      process_ = process.hProcess;
      CloseHandle(process.hThread);
    }
    CloseHandle(out_write);
    CloseHandle(in_read);
  }
  ~Child() {
    if (in_ != nullptr) CloseHandle(in_);  // a child waiting for its input ends
    if (process_ != nullptr) {
      WaitForSingleObject(process_, INFINITE);
      CloseHandle(process_);
    }
    if (out_ != nullptr) CloseHandle(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return process_ != nullptr; }
  // Reads output up to the end of the next line; "" at the end.
  std::string read_line() {
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(out_, &c, 1, &got, nullptr) && got == 1) {
      if (c == '\n') return line;
      if (c != '\r') line += c;
    }
    return line;
  }
  // The rest of the output and the exit status.
  std::pair<DWORD, std::string> finish() {
    std::string rest;
    for (std::string line = read_line(); !line.empty(); line = read_line()) rest += line + "\n";
    DWORD status = 0xFFFFFFFF;
    if (process_ != nullptr) {
      WaitForSingleObject(process_, INFINITE);
      GetExitCodeProcess(process_, &status);
    }
    return {status, rest};
  }
  // Ends the process at once, as a killed server ends.
  void kill() {
    TerminateProcess(process_, 9);
    WaitForSingleObject(process_, INFINITE);
  }

 private:
  HANDLE process_ = nullptr;
  HANDLE out_ = nullptr;
  HANDLE in_ = nullptr;
};

struct ChildResult {
  DWORD status = 0xFFFFFFFF;
  std::string output;
};

// Runs net_child.exe with `args` to its end.
ChildResult run_child(const std::string& args) {
  Child child(args);
  EXPECT_TRUE(child.started());
  auto [status, output] = child.finish();
  return ChildResult{status, output};
}

constexpr uint32_t kLoopback = 0x7F000001;

std::unique_ptr<UdpSocket> loopback_socket() {
  plat::SystemError error;
  auto s = UdpSocket::create(0, "127.0.0.1", &error);
  EXPECT_TRUE(s) << error.message();
  return s;
}

// ---- the datagram socket ----

TEST(Win32Udp, ADatagramKeepsItsTrueSizeWhenTheBufferIsShort) {
  auto a = loopback_socket(), b = loopback_socket();
  ASSERT_TRUE(a && b);
  std::string sent(300, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(a->send_to(sent.data(), sent.size(), "127.0.0.1", b->local_port()));
  ASSERT_TRUE(b->wait_readable(plat::deadline_after_ms(10000)));

  // A look leaves it queued; Winsock alone would drop a datagram that does
  // not fit (WSAEMSGSIZE) and never say how long it was.
  char buf[400] = {};
  auto look = b->peek(buf, 10);
  ASSERT_TRUE(look);
  EXPECT_EQ(look->size, 300u);
  EXPECT_EQ(look->copied, 10u);
  EXPECT_EQ(std::string(buf, 10), sent.substr(0, 10));
  EXPECT_EQ(look->address, "127.0.0.1");
  EXPECT_EQ(look->port, a->local_port());
  EXPECT_EQ(buf[10], '\0');  // nothing beyond the capacity is written

  auto taken = b->receive(buf, 100);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->size, 300u);
  EXPECT_EQ(taken->copied, 100u);
  EXPECT_EQ(std::string(buf, 100), sent.substr(0, 100));
  EXPECT_FALSE(b->receive(buf, sizeof buf));  // taken, and it was the only one

  // The fast path: host-order sender, same sizes.
  ASSERT_TRUE(a->send_to("abc", 3, kLoopback, b->local_port()));
  ASSERT_TRUE(b->wait_readable(plat::deadline_after_ms(10000)));
  auto raw = b->receive_raw(buf, 2);
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->size, 3u);
  EXPECT_EQ(raw->copied, 2u);
  EXPECT_EQ(raw->address, kLoopback);
  EXPECT_EQ(raw->port, a->local_port());
}

TEST(Win32Udp, WaitsEndWithADatagramOrNotBeforeTheirDeadline) {
  auto a = loopback_socket(), b = loopback_socket();
  ASSERT_TRUE(a && b);
  const plat::TimePoint deadline = plat::deadline_after_ms(50);
  EXPECT_FALSE(b->wait_readable(deadline));
  EXPECT_GE(plat::Clock::now(), deadline);
  EXPECT_FALSE(b->wait_readable(plat::Clock::now()));  // a passed deadline only looks
  char buf[8];
  EXPECT_FALSE(b->peek(buf, sizeof buf));
  EXPECT_FALSE(b->receive_raw(buf, sizeof buf));

  ASSERT_TRUE(a->send_to("x", 1, "127.0.0.1", b->local_port()));
  EXPECT_TRUE(b->wait_readable(plat::deadline_after_ms(10000)));
  EXPECT_TRUE(b->wait_readable(plat::Clock::now()));  // still queued
  EXPECT_EQ(b->take_pending_error(), ErrorKind::none);
}

TEST(Win32Udp, PacketInfoNamesTheDestinationAndSurvivesRecreate) {
  auto a = loopback_socket(), b = loopback_socket();
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(b->enable_packet_info());
  char buf[16];
  ASSERT_TRUE(a->send_to("q", 1, "127.0.0.1", b->local_port()));
  ASSERT_TRUE(b->wait_readable(plat::deadline_after_ms(10000)));
  auto look = b->peek(buf, sizeof buf);
  ASSERT_TRUE(look);
  EXPECT_EQ(look->local_address, "127.0.0.1");
  auto d = b->receive(buf, sizeof buf);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->local_address, "127.0.0.1");
  EXPECT_EQ(d->size, 1u);

  // An answer from a chosen source address.
  ASSERT_TRUE(b->send_to("r", 1, "127.0.0.1", a->local_port(), "127.0.0.1"));
  ASSERT_TRUE(a->wait_readable(plat::deadline_after_ms(10000)));
  auto back = a->receive(buf, sizeof buf);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->port, b->local_port());
  EXPECT_EQ(back->local_address, "");  // a has no packet info

  // A new socket on the same port, packet info on again.
  const uint16_t port = b->local_port();
  ASSERT_TRUE(b->recreate());
  EXPECT_EQ(b->local_port(), port);
  ASSERT_TRUE(a->send_to("s", 1, "127.0.0.1", port));
  ASSERT_TRUE(b->wait_readable(plat::deadline_after_ms(10000)));
  auto again = b->receive(buf, sizeof buf);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->local_address, "127.0.0.1");
}

TEST(Win32Udp, OptionsAndRefusedArguments) {
  auto a = loopback_socket();
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->set_broadcast(true));
  EXPECT_TRUE(a->set_receive_buffer(262144));
  int size = 0;
  int length = sizeof size;
  ASSERT_EQ(getsockopt(static_cast<SOCKET>(a->waitable().token()), SOL_SOCKET, SO_RCVBUF,
                       reinterpret_cast<char*>(&size), &length),
            0);
  EXPECT_GE(size, 262144);
  EXPECT_FALSE(a->send_to("x", 1, "127.0.0.256", 9));
  EXPECT_FALSE(a->send_to("x", 1, "localhost", 9));

  plat::SystemError error;
  EXPECT_FALSE(UdpSocket::create(0, "127.0.0.256", &error));
  EXPECT_EQ(error.kind, ErrorKind::invalid_argument);
  EXPECT_NE(error.message().find("127.0.0.256"), std::string::npos) << error.message();
  error = {};
  EXPECT_FALSE(UdpSocket::create(a->local_port(), "127.0.0.1", &error));  // the port is taken
  EXPECT_NE(error.kind, ErrorKind::none);
  EXPECT_NE(error.message().find("bind 127.0.0.1:" + std::to_string(a->local_port())), std::string::npos)
      << error.message();
}

TEST(Win32Udp, ARefusedDatagramIsReportedAsConnectionRefused) {
  if (running_under_wine()) {
    GTEST_SKIP() << "Wine: an unconnected UDP socket never reports 10054 (WSAECONNRESET) for a datagram that "
                    "came back as port unreachable, so the refusal cannot be seen";
  }
  auto a = loopback_socket();
  ASSERT_TRUE(a);
  uint16_t closed = 0;
  {
    auto gone = loopback_socket();  // a port where nothing listens once it closes
    ASSERT_TRUE(gone);
    closed = gone->local_port();
  }
  ASSERT_TRUE(a->send_to("x", 1, "127.0.0.1", closed));
  // Windows wakes the wait for the refusal, and the receive call meets
  // 10054 instead of a datagram.
  char buf[8];
  const plat::TimePoint deadline = plat::deadline_after_ms(10000);
  ErrorKind seen = ErrorKind::none;
  while (seen == ErrorKind::none && plat::Clock::now() < deadline) {
    if (a->wait_readable(deadline)) {
      EXPECT_FALSE(a->peek(buf, sizeof buf));
    }
    seen = a->take_pending_error();
  }
  EXPECT_EQ(seen, ErrorKind::connection_refused);
  EXPECT_EQ(a->take_pending_error(), ErrorKind::none);  // taken once
}

// ---- the host addresses ----

TEST(Win32HostAddresses, TheAdaptersGiveLoopbackWithItsMaskAndTheSearchLeavesItOut) {
  const auto interfaces = plat::ipv4_interface_addresses();
  auto loopback = std::find_if(interfaces.begin(), interfaces.end(),
                               [](const plat::InterfaceAddress& i) { return i.address == kLoopback; });
  ASSERT_NE(loopback, interfaces.end());
  EXPECT_TRUE(loopback->loopback);
  EXPECT_TRUE(loopback->up);
  EXPECT_EQ(loopback->netmask, 0xFF000000u);

  ASSERT_EQ(::unsetenv("LYRALINK_HOST_ADDRESSES"), 0);
  const auto table = lyralink::discovery::current_host_table();
  EXPECT_LE(table.size(), lyralink::discovery::kMaxHostAddresses);
  for (const auto& row : table) {
    EXPECT_NE(row.address >> 24, 127u) << row.text;
    EXPECT_TRUE(row.mask_found) << row.text;  // every adapter address has a prefix length
  }

  // The tests' own list replaces the adapters, as on Linux.
  ASSERT_EQ(::setenv("LYRALINK_HOST_ADDRESSES", "127.0.0.1/255.0.0.0,10.1.2.3/16", 1), 0);
  const auto given = lyralink::discovery::current_host_table();
  ::unsetenv("LYRALINK_HOST_ADDRESSES");
  ASSERT_EQ(given.size(), 2u);
  EXPECT_EQ(given[0].text, "127.0.0.1");
  EXPECT_EQ(given[0].mask, 0xFF000000u);
  EXPECT_EQ(given[1].mask, 0xFFFF0000u);
}

// ---- the registry as the settings store ----

class Win32Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = SettingsStore::open(RegistryRoot::current_user);
    ASSERT_TRUE(store_);
    key_ = unique("Software\\LyraNetTest");
    store_->delete_key(key_, true);
  }
  void TearDown() override {
    if (store_) store_->delete_key(key_, true);
  }
  std::string sub(const std::string& path) const { return key_ + "\\" + path; }

  std::unique_ptr<SettingsStore> store_;
  std::string key_;
};

TEST_F(Win32Registry, NamesCompareWithoutLetterCaseAndKeepTheirFirstForm) {
  ASSERT_TRUE(store_->create_key(sub("Special IPs")));
  EXPECT_TRUE(store_->key_exists(sub("SPECIAL ips")));
  EXPECT_TRUE(store_->create_key(sub("special IPS")));  // the same key
  auto subs = store_->subkeys(key_);
  ASSERT_TRUE(subs);
  EXPECT_EQ(*subs, std::vector<std::string>{"Special IPs"});

  ASSERT_TRUE(store_->set_value(sub("Special IPs"), RegistryValue::string("IP0", "10.0.0.1")));
  ASSERT_TRUE(store_->set_value(sub("special ips"), RegistryValue::string("ip0", "10.0.0.2")));
  auto v = store_->get_value(sub("Special IPs"), "Ip0");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->name, "IP0");  // as created, whatever the case asked for
  EXPECT_EQ(v->data, "10.0.0.2");
  auto all = store_->values(sub("Special IPs"));
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 1u);
  EXPECT_EQ((*all)[0].name, "IP0");
}

TEST_F(Win32Registry, StringsKeepTheirLengthAndTheRegistryItsTerminator) {
  ASSERT_TRUE(store_->create_key(key_));
  const std::string zeros("a\0b", 3), trailing("x\0", 2);
  ASSERT_TRUE(store_->set_value(key_, RegistryValue::string("Zeros", zeros)));
  ASSERT_TRUE(store_->set_value(key_, RegistryValue::string("Trailing", trailing)));
  ASSERT_TRUE(store_->set_value(key_, RegistryValue::string("", "")));
  ASSERT_TRUE(store_->set_value(key_, RegistryValue::dword("Max", 0xFFFFFFFFu)));
  EXPECT_EQ(store_->get_value(key_, "Zeros")->data, zeros);
  EXPECT_EQ(store_->get_value(key_, "Trailing")->data, trailing);
  auto empty = store_->get_value(key_, "");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->type, RegistryType::sz);
  EXPECT_EQ(empty->data, "");
  auto max = store_->get_value(key_, "max");
  ASSERT_TRUE(max);
  EXPECT_EQ(max->type, RegistryType::dword);
  EXPECT_EQ(max->as_dword(), 0xFFFFFFFFu);

  // What another program reads with the registry's own calls: the text and
  // its terminating zero.
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ | KEY_SET_VALUE, &k), ERROR_SUCCESS);
  char data[16] = {};
  DWORD type = 0, size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(k, "Zeros", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(data, size), zeros + std::string(1, '\0'));
  // And what another program wrote: a value without the terminator, one of
  // a type the store has no form for, an unexpanded path.
  ASSERT_EQ(RegSetValueExA(k, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k, "Blob", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\1\2"), 2), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%TEMP%\\x"), 9),
            ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_EQ(store_->get_value(key_, "Bare")->data, "abc");
  EXPECT_FALSE(store_->get_value(key_, "Blob"));
  auto expand = store_->get_value(key_, "Expand");
  ASSERT_TRUE(expand);
  EXPECT_EQ(expand->type, RegistryType::sz);
  EXPECT_EQ(expand->data, "%TEMP%\\x");
  auto all = store_->values(key_);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 6u);  // without the REG_BINARY value
  for (const auto& value : *all) EXPECT_NE(value.name, "Blob");
}

TEST_F(Win32Registry, SubkeysComeInTheStoresOrder) {
  for (const char* name : {"b", "_x", "B2", "a", "Zed", "[q"}) ASSERT_TRUE(store_->create_key(sub(name)));
  auto subs = store_->subkeys(key_);
  ASSERT_TRUE(subs);
  // Letters folded to small ones: "[" and "_" lie between the capitals and
  // the small letters, so they come first.
  EXPECT_EQ(*subs, (std::vector<std::string>{"[q", "_x", "a", "b", "B2", "Zed"}));
}

TEST_F(Win32Registry, ValuesEnumerateInCreationOrderAndARewriteKeepsItsPlace) {
  if (running_under_wine()) {
    GTEST_SKIP() << "Wine: the registry enumerates a key's values alphabetically, Windows in creation order";
  }
  ASSERT_TRUE(store_->create_key(key_));
  for (const char* name : {"Zeta", "alpha", "Mid"}) ASSERT_TRUE(store_->set_value(key_, RegistryValue::dword(name, 1)));
  ASSERT_TRUE(store_->set_value(key_, RegistryValue::string("ZETA", "rewritten")));
  auto all = store_->values(key_);
  ASSERT_TRUE(all);
  std::vector<std::string> names;
  for (const auto& v : *all) names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
}

TEST_F(Win32Registry, DeletingAndMissingThings) {
  ASSERT_TRUE(store_->create_key(sub("A\\B\\C")));
  ASSERT_TRUE(store_->set_value(sub("A"), RegistryValue::dword("n", 1)));
  EXPECT_FALSE(store_->delete_key(sub("A"), false));  // it has subkeys
  EXPECT_TRUE(store_->key_exists(sub("A\\B\\C")));
  EXPECT_TRUE(store_->delete_key(sub("a\\b\\c"), false));
  EXPECT_TRUE(store_->delete_key(sub("A"), true));  // with everything below it
  EXPECT_FALSE(store_->key_exists(sub("A")));
  EXPECT_FALSE(store_->delete_key(sub("A"), true));
  EXPECT_EQ(store_->last_error(), "");  // missing, not failed
  EXPECT_FALSE(store_->delete_key("", true));  // the root stays
  EXPECT_TRUE(store_->key_exists(""));

  EXPECT_FALSE(store_->set_value(sub("Missing"), RegistryValue::dword("n", 1)));  // no key made
  EXPECT_FALSE(store_->key_exists(sub("Missing")));
  EXPECT_FALSE(store_->subkeys(sub("Missing")));
  EXPECT_FALSE(store_->values(sub("Missing")));
  ASSERT_TRUE(store_->create_key(key_));
  EXPECT_FALSE(store_->delete_value(key_, "n"));
  EXPECT_FALSE(store_->get_value(key_, "n"));

  // Empty levels and zero bytes in names are refused, not cut short.
  EXPECT_FALSE(store_->create_key(key_ + "\\\\X"));
  EXPECT_FALSE(store_->create_key(key_ + "\\"));
  ASSERT_TRUE(store_->set_value(key_, RegistryValue::dword("a", 1)));
  EXPECT_FALSE(store_->get_value(key_, std::string("a\0b", 3)));
  EXPECT_FALSE(store_->set_value(key_, RegistryValue::dword(std::string("a\0b", 3), 2)));
  EXPECT_EQ(store_->get_value(key_, "a")->as_dword(), 1u);
  EXPECT_FALSE(store_->key_exists(key_ + std::string("\0x", 2)));
}

TEST_F(Win32Registry, TheRootsAreTheRegistrysAndThereAreNoStoreFiles) {
  EXPECT_EQ(SettingsStore::store_file_path(RegistryRoot::current_user), "HKEY_CURRENT_USER");
  EXPECT_EQ(SettingsStore::store_file_path(RegistryRoot::local_machine), "HKEY_LOCAL_MACHINE");
  std::string why;
  EXPECT_FALSE(SettingsStore::open_file("C:\\store.db", &why));
  EXPECT_NE(why.find("C:\\store.db"), std::string::npos) << why;
  // Each root is its own: a key made under one is not under the other.
  ASSERT_TRUE(store_->create_key(key_));
  auto machine = SettingsStore::open(RegistryRoot::local_machine);
  ASSERT_TRUE(machine);
  EXPECT_FALSE(machine->key_exists(key_));
}

// ---- the Multiplex server's named objects ----

TEST(Win32NamedObjects, TheDocumentedClientsFindThemUnderTheirWindowsNames) {
  const uint32_t port = 700 + GetCurrentProcessId() % 200;
  const std::string n = std::to_string(port);
  auto mutex = plat::SharedMutex::create(mx::mutex_name(port), 0600);
  ASSERT_TRUE(mutex);
  auto block = plat::SharedMemory::create(mx::block_name(port), mx::kBlockSize, 0600);
  ASSERT_TRUE(block);
  auto request = plat::NamedSemaphore::create(mx::request_event_name(port, 1), 0600);
  auto answer = plat::NamedSemaphore::create(mx::answer_event_name(port, 3), 0600);
  ASSERT_TRUE(request && answer);
  ASSERT_TRUE(mutex->publish());
  block->data()[mx::kSlotCountOffset] = 3;

  // A client written to the documented interface: the names as they are
  // documented, the object types it expects.
  // A Win32 mutex belongs to a thread: the client's thread takes it and
  // ends holding it, which leaves it abandoned for the server.
  DWORD client_took = WAIT_FAILED;
  std::thread client([&] {
    HANDLE m = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, ("MultiplexServerCOM" + n).c_str());
    if (m == nullptr) return;
    client_took = WaitForSingleObject(m, 0);
    CloseHandle(m);
  });
  client.join();
  EXPECT_EQ(client_took, WAIT_OBJECT_0);
  EXPECT_EQ(mutex->lock_for(10000), plat::SharedMutex::Lock::abandoned);
  mutex->unlock();

  HANDLE map = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, ("MultiplexServerMapFileCOM" + n).c_str());
  ASSERT_NE(map, nullptr);
  auto* view = static_cast<uint8_t*>(MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[mx::kSlotCountOffset], 3);
  UnmapViewOfFile(view);
  CloseHandle(map);

  HANDLE req = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, ("MultiplexServerCOM" + n + "Request1").c_str());
  HANDLE ans = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, ("MultiplexServerCOM" + n + "Answer3").c_str());
  ASSERT_NE(req, nullptr);
  ASSERT_NE(ans, nullptr);
  SetEvent(req);
  EXPECT_EQ(request->wait_for(10000), plat::NamedSemaphore::Wait::signalled);
  EXPECT_TRUE(answer->post());
  EXPECT_EQ(WaitForSingleObject(ans, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ans, 0), WAIT_TIMEOUT);  // auto-reset: taken by the wait
  CloseHandle(req);
  CloseHandle(ans);
}

TEST(Win32NamedObjects, ASharedBlockIsZeroedSharedAndNamedWhileItLives) {
  const std::string name = "/" + unique("LyraNetTestBlock");
  plat::SystemError error;
  {
    auto block = plat::SharedMemory::create(name, 836, 0600, &error);
    ASSERT_TRUE(block) << error.message();
    EXPECT_EQ(block->size(), 836u);
    EXPECT_TRUE(std::all_of(block->data(), block->data() + 836, [](uint8_t b) { return b == 0; }));
    EXPECT_FALSE(plat::SharedMemory::create(name, 836, 0600, &error));
    EXPECT_EQ(error.kind, ErrorKind::already_exists);

    // Found by name while only its creator holds it (Wine drops the name of
    // a mapping whose handles are all closed, views or not).
    auto opened = plat::SharedMemory::open(name, &error);
    ASSERT_TRUE(opened) << error.message();
    EXPECT_GE(opened->size(), 836u);
    block->data()[835] = 0xA5;
    EXPECT_EQ(opened->data()[835], 0xA5);
    // And by another process.
    auto child = run_child("read " + name + " 835");
    EXPECT_EQ(child.status, 0u) << child.output;
    EXPECT_EQ(child.output, "165\n");
    EXPECT_TRUE(plat::SharedMemory::remove(name));  // it is there
  }
  // Gone with its last holder.
  EXPECT_FALSE(plat::SharedMemory::open(name, &error));
  EXPECT_EQ(error.kind, ErrorKind::not_found);
  EXPECT_FALSE(plat::SharedMemory::remove(name));
  EXPECT_FALSE(plat::SharedMemory::create(name, 0, 0600, &error));
  EXPECT_EQ(error.kind, ErrorKind::invalid_argument);
}

TEST(Win32NamedObjects, EventsAreAutoResetAndReachOtherProcesses) {
  const std::string name = "/" + unique("LyraNetTestEvent");
  plat::SystemError error;
  auto event = plat::NamedSemaphore::create(name, 0600, &error);
  ASSERT_TRUE(event) << error.message();
  EXPECT_FALSE(plat::NamedSemaphore::create(name, 0600, &error));
  EXPECT_EQ(error.kind, ErrorKind::already_exists);
  auto opened = plat::NamedSemaphore::open(name);
  ASSERT_TRUE(opened);

  EXPECT_FALSE(opened->try_wait());
  EXPECT_EQ(opened->wait_for(0), plat::NamedSemaphore::Wait::timed_out);
  ASSERT_TRUE(event->post());
  EXPECT_TRUE(opened->try_wait());
  EXPECT_FALSE(opened->try_wait());  // one post, one wait
  // An event does not count: two posts before a wait are one.
  ASSERT_TRUE(event->post());
  ASSERT_TRUE(event->post());
  EXPECT_EQ(opened->wait_for(10000), plat::NamedSemaphore::Wait::signalled);
  EXPECT_FALSE(opened->try_wait());

  auto child = run_child("post " + name);
  EXPECT_EQ(child.status, 0u) << child.output;
  EXPECT_EQ(event->wait(), plat::NamedSemaphore::Wait::signalled);

  EXPECT_FALSE(plat::NamedSemaphore::open("/" + unique("LyraNetTestNoEvent"), &error));
  EXPECT_EQ(error.kind, ErrorKind::not_found);
}

TEST(Win32NamedObjects, TheMutexIsFoundOnlyOncePublishedAndItsOwnerHoldsTheName) {
  const std::string name = "/" + unique("LyraNetTestMutex");
  plat::SystemError error;
  auto owner = plat::SharedMutex::create(name, 0600, &error);
  ASSERT_TRUE(owner) << error.message();
  EXPECT_EQ(owner->lock(), plat::SharedMutex::Lock::taken);  // usable at once by its owner
  owner->unlock();
  EXPECT_FALSE(plat::SharedMutex::open(name, &error));
  EXPECT_EQ(error.kind, ErrorKind::not_found);
  EXPECT_FALSE(plat::SharedMutex::create(name, 0600, &error));
  EXPECT_EQ(error.kind, ErrorKind::already_exists);

  ASSERT_TRUE(owner->publish());
  auto opener = plat::SharedMutex::open(name, &error);
  ASSERT_TRUE(opener) << error.message();
  EXPECT_TRUE(opener->owner_alive());
  auto second = run_child("create " + name);  // another process, the owner running
  EXPECT_EQ(second.status, 1u);
  EXPECT_EQ(second.output, "already exists\n");

  // The owner's claim ends with its object; the opener sees it gone, and
  // the name, still held by the opener, can be claimed again.
  owner.reset();
  EXPECT_FALSE(opener->owner_alive());
  auto next = run_child("create " + name);
  EXPECT_EQ(next.status, 0u) << next.output;
}

TEST(Win32NamedObjects, AHolderThatDiesLeavesTheMutexAbandonedAndTheNextLockerHasIt) {
  const std::string name = "/" + unique("LyraNetTestAbandoned");
  auto owner = plat::SharedMutex::create(name, 0600);
  ASSERT_TRUE(owner);
  ASSERT_TRUE(owner->publish());
  auto child = run_child("lock-and-exit " + name);
  ASSERT_EQ(child.status, 0u) << child.output;
  EXPECT_EQ(owner->lock_for(10000), plat::SharedMutex::Lock::abandoned);
  owner->unlock();
  EXPECT_EQ(owner->lock_for(0), plat::SharedMutex::Lock::taken);  // abandoned once only
  owner->unlock();
}

TEST(Win32NamedObjects, AKilledOwnersNameIsTakenOverAndAForeignMutexIsLeftAlone) {
  const std::string name = "/" + unique("LyraNetTestDeadOwner");
  Child server("own-and-wait " + name);
  ASSERT_TRUE(server.started());
  ASSERT_EQ(server.read_line(), "owned");
  // This process holds the name open, as an attached client does; the
  // server is killed without giving its claim up.
  auto opener = plat::SharedMutex::open(name);
  ASSERT_TRUE(opener);
  EXPECT_TRUE(opener->owner_alive());
  server.kill();
  EXPECT_FALSE(opener->owner_alive());
  auto next = plat::SharedMutex::create(name, 0600);  // the name is still there, its owner dead
  ASSERT_TRUE(next);
  ASSERT_TRUE(next->publish());
  EXPECT_TRUE(opener->owner_alive());  // the new owner runs
  EXPECT_EQ(opener->lock_for(0), plat::SharedMutex::Lock::taken);
  opener->unlock();

  // A mutex of another program, without the owner mark: never taken from it.
  const std::string foreign = unique("LyraNetTestForeign");
  HANDLE keep = CreateMutexA(nullptr, FALSE, foreign.c_str());
  ASSERT_NE(keep, nullptr);
  plat::SystemError error;
  EXPECT_FALSE(plat::SharedMutex::create("/" + foreign, 0600, &error));
  EXPECT_EQ(error.kind, ErrorKind::already_exists);
  auto theirs = plat::SharedMutex::open("/" + foreign);
  ASSERT_TRUE(theirs);
  EXPECT_TRUE(theirs->owner_alive());
  EXPECT_EQ(theirs->lock_for(0), plat::SharedMutex::Lock::taken);
  theirs->unlock();
  CloseHandle(keep);
}

}  // namespace
