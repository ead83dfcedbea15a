// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/lyrasim/device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/lyrasim/text.h"

namespace lyrasim {

namespace {

// SplitMix64: a cheap deterministic hash, so the synthetic signal of a
// given sample index is the same on every read.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double unit(uint64_t h) { return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0); }

// Pulse-height spectrum of the synthetic source over 4096 channels: a
// photopeak at channel 1650 (Cs-137 at 0.4 keV per channel), its Compton
// continuum and edge, a backscatter bump and an X-ray line.
double spectrum_shape(uint32_t ch) {
  const double x = ch;
  auto gauss = [&](double mean, double sigma, double area) {
    double d = (x - mean) / sigma;
    return area * std::exp(-0.5 * d * d) / (sigma * 2.5066282746);
  };
  double compton = x < 1190 ? 0.00012 * (1.0 + 0.6 * x / 1190.0) : 0.0;
  double edge = gauss(1190, 25, 0.05);
  return gauss(1655, 28, 0.35) + gauss(460, 30, 0.06) + gauss(80, 6, 0.05) + compton + edge;
}

constexpr double kCountRate = 2500.0;  // detected events per second

// Where the state answers report the plain settings: the first `size`
// parameter bytes of the last frame with command `code` appear at `offset`
// of the answer data of `answer_code`. Offsets stay clear of 106-113 and
// 126-127, where a short answer frame carries the echo and the checksum.
struct SettingReadback {
  uint16_t answer_code;
  uint16_t code;
  uint8_t offset;
  uint8_t size;
};
constexpr SettingReadback kSettingReadback[] = {
    // The state (90): the signal chain of both models.
    {90, 70, 26, 6},   // ADC resolution, discriminator
    {90, 74, 32, 2},   // repeat
    {90, 75, 34, 2},   // time per channel
    {90, 77, 36, 6},   // stabilisation
    {90, 80, 42, 2},   // fast
    {90, 81, 44, 2},   // slow
    {90, 82, 46, 2},   // shaping time
    {90, 83, 52, 2},   // pile-up rejection
    {90, 97, 54, 2},   // TDF
    {90, 96, 64, 4},   // PZC time offset
    {90, 99, 68, 2},   // MCS channel
    {90, 103, 70, 6},  // stabilisation parameter
    // The UF6 regions (101).
    {101, 100, 0, 6},
    // The 740's extended state (272): its newer signal-chain settings.
    {272, 259, 18, 4},  // trigger filter
    {272, 262, 22, 6},  // trigger parameter
    {272, 266, 28, 2},  // offset DAC
    {272, 267, 30, 4},  // IP address
    {272, 268, 34, 4},  // shaping time pair
    {272, 269, 38, 2},  // threshold in tenths
    {272, 271, 40, 3},  // gating
    {272, 273, 44, 6},  // oscilloscope trigger
    {272, 275, 50, 2},  // flat top time
    {272, 276, 52, 2},  // evaluation filter type
    {272, 277, 54, 4},  // time per channel (740)
    {272, 278, 58, 2},  // jitter correction
    {272, 280, 60, 2},  // baseline restoring
    {272, 281, 62, 2},  // pin 5 current source
    {272, 301, 64, 2},  // core clock
    {272, 306, 66, 6},  // gating time window width
    {272, 514, 72, 2},  // TWI expander
    // The 740's second extended state (303): the extension port.
    {303, 283, 12, 4},  // polarity
    {303, 284, 16, 6},  // pulser period
    {303, 285, 22, 6},  // pulser width
    {303, 286, 28, 3},  // RS232 line
    {303, 292, 32, 6},  // outputs
    {303, 295, 38, 4},  // TTL levels
};

bool is_plain_setting(uint16_t code) {
  for (const SettingReadback& r : kSettingReadback) {
    if (r.code == code) return true;
  }
  return false;
}

}  // namespace

const char* identity_option_help() {
  return "sn=N serial number, fw=0xMMmm firmware, variant=N, use=N use word,\n"
         "uses=N use counter, features=0xN flags, rate=kHz sample rate,\n"
         "memory=N common memory bytes, maxhv=V, ramp=V/s, sysdef=0|1,\n"
         "kind=N first word of the 740 state answer (0x0740), head=N a Trebla\n"
         "measuring head with serial number N, app=CODE application code in\n"
         "user-data word 4 (e.g. KBRE), hv=V HV on at V volts, hvpol=1 negative HV,\n"
         "seed=N seed of the signal in the common memory";
}

std::optional<Identity> parse_identity(const std::string& text, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<Identity> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  Identity id;
  const std::vector<std::string> items = split_fields(text, ',');
  const std::string& model = items.front();
  if (model == "740" || model == "MCA-740") {
    id.model = Model::mca740;
  } else if (model == "310" || model == "MCA-310") {
    id.model = Model::mca310;
    id.firmware = 0x0310;
  } else {
    return fail("unknown model '" + model + "' (use 740 or 310)");
  }
  for (size_t i = 1; i < items.size(); ++i) {
    const std::string& item = items[i];
    const auto [key, value] = split_setting(item);
    if (key == "app") {
      if (value.size() > 4) return fail("app= takes at most 4 characters, got '" + value + "'");
      id.application = value;
      continue;
    }
    long long v = 0;
    if (item.find('=') == std::string::npos || !parse_integer(value, v)) {
      return fail("bad option '" + item + "' (expected key=number)");
    }
    if (key == "sn") id.serial = static_cast<uint16_t>(v);
    else if (key == "fw") id.firmware = static_cast<uint16_t>(v);
    else if (key == "variant") id.variant = static_cast<uint16_t>(v);
    else if (key == "use") id.use_word = static_cast<uint16_t>(v);
    else if (key == "uses") id.use_counter = static_cast<int16_t>(v);
    else if (key == "features") id.features = static_cast<uint32_t>(v);
    else if (key == "rate") id.sample_rate_khz = static_cast<uint16_t>(v);
    else if (key == "memory") id.memory_bytes = static_cast<uint32_t>(v);
    else if (key == "maxhv") id.max_hv = static_cast<uint16_t>(v);
    else if (key == "ramp") id.hv_ramp = static_cast<uint16_t>(std::max<long long>(v, 1));
    else if (key == "sysdef") id.system_defaults = static_cast<uint16_t>(v);
    else if (key == "kind") id.kind = static_cast<uint16_t>(v);
    else if (key == "hv") id.hv = static_cast<uint16_t>(v);
    else if (key == "hvpol") id.hv_polarity = v != 0 ? 1 : 0;
    else if (key == "seed") id.seed = static_cast<uint64_t>(v);
    else if (key == "head") {
      id.head = true;
      id.head_serial = static_cast<uint32_t>(v);
    }
    else return fail("unknown option '" + key + "'");
  }
  return id;
}

Analyser::Analyser(Identity id) : id_(id) {
  // user-data word 4: the code's first character in the lowest byte.
  uint32_t code = 0;
  for (size_t i = 0; i < id_.application.size() && i < 4; ++i) {
    code |= static_cast<uint32_t>(static_cast<uint8_t>(id_.application[i])) << (8 * i);
  }
  user_data_[4] = code;
  hv_set_ = hv_from_ = std::min(id_.hv, id_.max_hv);
  hv_polarity_ = id_.hv_polarity;
}

// ---- modem lines ----

void Analyser::set_dtr(bool on) {
  if (dtr_ && !on) {
    // The falling strobe latches the charger switch from RTS.
    charger_on_ = rts_;
    charging_ = charger_on_;
  }
  dtr_ = on;
}

void Analyser::set_rts(bool on) { rts_ = on; }

void Analyser::extension_receive(const std::string& bytes) {
  extension_rx_ += bytes;
  if (extension_rx_.size() > 1024) extension_rx_.erase(0, extension_rx_.size() - 1024);
}

// ---- derived state ----

uint16_t Analyser::actual_hv(SteadyClock::time_point now) const {
  double seconds = std::chrono::duration<double>(now - hv_changed_).count();
  double step = seconds * id_.hv_ramp;
  double from = hv_from_, to = hv_set_;
  double v = from < to ? std::min(to, from + step) : std::max(to, from - step);
  return static_cast<uint16_t>(std::lround(v));
}

double Analyser::live_seconds(SteadyClock::time_point now) const {
  double s = accumulated_seconds_;
  if (running_) s += std::chrono::duration<double>(now - started_).count();
  if (preset_kind_ == 1 || preset_kind_ == 2) s = std::min(s, static_cast<double>(preset_value_));
  if (preset_kind_ == 5) s = std::min(s, preset_value_ / 1000.0);
  return s;
}

uint32_t Analyser::channel_counts(uint32_t channel, SteadyClock::time_point now) const {
  if (channel >= 4096) return 0;
  double gain_factor = gain_coarse_ / 10.0;
  // A higher gain stretches the spectrum over more channels.
  double source_channel = channel / std::max(gain_factor, 0.01);
  double expected = spectrum_shape(static_cast<uint32_t>(source_channel)) * kCountRate *
                    live_seconds(now) / std::max(gain_factor, 0.01);
  return static_cast<uint32_t>(expected);
}

uint64_t Analyser::memory_fill_bytes(SteadyClock::time_point now) const {
  if (!memory_armed_) return 0;
  double seconds = std::chrono::duration<double>(now - memory_started_).count();
  double bytes = seconds * id_.sample_rate_khz * 1000.0 * 2.0;
  uint64_t limit = fill_stop_ != 0 ? std::min<uint64_t>(fill_stop_, id_.memory_bytes) : id_.memory_bytes;
  return std::min<uint64_t>(static_cast<uint64_t>(bytes), limit);
}

uint16_t Analyser::acquisition_state(SteadyClock::time_point now) const {
  if (memory_armed_) {
    uint64_t limit = fill_stop_ != 0 ? std::min<uint64_t>(fill_stop_, id_.memory_bytes) : id_.memory_bytes;
    if (memory_fill_bytes(now) < limit) return 7;
  }
  if (running_) {
    bool preset_done = (preset_kind_ == 1 || preset_kind_ == 2 || preset_kind_ == 5) &&
                       live_seconds(now) >= (preset_kind_ == 5 ? preset_value_ / 1000.0 : preset_value_);
    return preset_done ? 0 : 2;
  }
  return 0;
}

uint32_t Analyser::packed_clock(SteadyClock::time_point now) const {
  uint64_t total;
  if (clock_set_ == SteadyClock::time_point{}) {
    // Never set: the device runs from its battery clock, taken here from
    // the host's local time.
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    std::tm epoch{};
    epoch.tm_year = 108;
    epoch.tm_mday = 1;
    epoch.tm_isdst = -1;
    double span = std::difftime(std::mktime(&local), std::mktime(&epoch));
    total = span > 0 ? static_cast<uint64_t>(span) : 0;
  } else {
    uint32_t b = clock_base_;
    total = (b & 0x3F) + ((b >> 6) & 0x3F) * 60ull + ((b >> 12) & 0x1F) * 3600ull + (b >> 17) * 86400ull;
    total += static_cast<uint64_t>(std::chrono::duration<double>(now - clock_set_).count());
  }
  uint64_t days = total / 86400, rest = total % 86400;
  return static_cast<uint32_t>((rest % 60) | ((rest / 60 % 60) << 6) | ((rest / 3600) << 12) | ((days & 0x7FFF) << 17));
}

uint16_t Analyser::signal_sample(uint64_t index) const {
  // Baseline with noise plus exponential pulses; pulse start times and
  // heights are fixed per 4096-sample block by a hash, so reads repeat.
  constexpr uint64_t kBlock = 4096;
  const double rate_hz = std::max<double>(id_.sample_rate_khz, 1) * 1000.0;
  const double tau = rate_hz * 2.0e-6;  // 2 us decay
  const double rise = std::max(rate_hz * 0.1e-6, 0.5);
  const uint64_t seed = mix(id_.seed ^ 0x5EEDull);
  double value = 1200.0 + (unit(mix(index * 7 + 1 + seed)) - 0.5) * 24.0;
  const double pulses_per_block = kCountRate * kBlock / rate_hz;
  const uint64_t block = index / kBlock;
  for (uint64_t b = block > 0 ? block - 1 : 0; b <= block; ++b) {
    uint64_t h = mix(b * 1315423911ull + 17 + seed);
    // Poisson-ish count: 0-3 pulses around the mean rate of the block.
    int n = static_cast<int>(pulses_per_block * 2 * unit(h) + 0.5);
    for (int k = 0; k < n; ++k) {
      uint64_t hk = mix(h + static_cast<uint64_t>(k) * 0x632BE59BD9B4E019ull);
      uint64_t start = b * kBlock + (hk % kBlock);
      if (start > index) continue;
      double t = static_cast<double>(index - start);
      // Height drawn from the same spectrum the histograms show.
      uint32_t ch = static_cast<uint32_t>(mix(hk) % 4096);
      double height = 200.0 + ch * 3.4;
      if (unit(mix(hk + 5)) * 0.0016 > spectrum_shape(ch)) height *= 0.35;
      value += height * (1.0 - std::exp(-t / rise)) * std::exp(-t / tau);
    }
  }
  int v = static_cast<int>(value);
  uint16_t sample = static_cast<uint16_t>(std::clamp(v, 0, 0x3FFF));
  const auto marker = static_cast<uint16_t>((mix(index + seed * 3) & 3u) << 14);
  return static_cast<uint16_t>(sample | marker);
}

// ---- answers ----

AnswerData Analyser::state_answer(SteadyClock::time_point now) {
  AnswerData d{};
  put16(&d[0], mode_);
  put16(&d[2], preset_kind_);
  put32(&d[4], preset_value_);
  put32(&d[8], static_cast<uint32_t>(live_seconds(now) * 1000.0));
  put16(&d[12], threshold_);
  put16(&d[14], roi_low_);
  put16(&d[16], roi_high_);
  put16(&d[18], mca_input_);
  put16(&d[20], mcs_input_);
  put16(&d[22], polarity_);
  put16(&d[24], preamp_power_);
  put16(&d[48], gain_coarse_);
  put16(&d[50], gain_fine_);
  put16(&d[56], hv_set_);
  put16(&d[58], hv_polarity_);
  put16(&d[60], pzc_value_);
  put16(&d[62], actual_hv(now));
  if (id_.model == Model::mca740) {
    // The 740's answer to the old state query marks itself: bytes 88-91.
    put32(&d[88], 0xFFFFFFFFu);
  } else {
    put16(&d[86], id_.serial);
    put16(&d[90], id_.firmware);
  }
  put16(&d[128], acquisition_state(now));
  return d;
}

AnswerData Analyser::state740_answer(SteadyClock::time_point now) {
  AnswerData d{};
  put16(&d[0], id_.kind);
  put16(&d[2], id_.firmware);
  put16(&d[4], id_.variant);
  put32(&d[8], id_.features);
  put32(&d[12], packed_clock(now));
  // Bytes 16-18 are free: the library writes the decoded clock over them.
  put16(&d[20], general_mode_);
  put16(&d[44], id_.serial);
  put16(&d[46], id_.use_word);
  put16(&d[54], static_cast<uint16_t>(id_.use_counter));
  put16(&d[64], id_.max_hv);
  put16(&d[66], actual_hv(now));
  put16(&d[128], acquisition_state(now));
  return d;
}

AnswerData Analyser::state740_ex_answer(SteadyClock::time_point now) {
  AnswerData d{};
  put32(&d[0], id_.memory_bytes);
  put32(&d[4], fill_stop_);
  put32(&d[8], static_cast<uint32_t>(memory_fill_bytes(now)));
  for (int i = 0; i < 6; ++i) d[static_cast<size_t>(12 + i)] = extension_port_[static_cast<size_t>(i)];
  put16(&d[104], id_.sample_rate_khz);
  return d;
}

AnswerData Analyser::power_answer(SteadyClock::time_point now) {
  AnswerData d{};
  put16(&d[0], preamp_power_);
  put32(&d[40], actual_hv(now));
  put32(&d[44], hv_set_);
  return d;
}

AnswerData Analyser::voltage_current_answer(SteadyClock::time_point now) {
  // Raw ADC readings; the library scales them by 2551, 249, 1192, 9766,
  // 6000, 6000, 249, 249, 249, 249 over 1024. Raw values are chosen so the
  // scaled readings are plausible: HV in volts, then mV and uA.
  static const uint32_t factors[10] = {2551, 249, 1192, 9766, 6000, 6000, 249, 249, 249, 249};
  const uint32_t physical[10] = {actual_hv(now), 5000, 12000, 24, 3300, 1800, 5000, 5000, 12000, 12000};
  AnswerData d{};
  for (int i = 0; i < 10; ++i) {
    put32(&d[static_cast<size_t>(4 * i)], static_cast<uint32_t>((uint64_t{physical[i]} * 1024 + factors[i] / 2) / factors[i]));
  }
  return d;
}

AnswerData Analyser::spectrum_answer(uint32_t first, uint32_t count, uint32_t selector,
                                     SteadyClock::time_point now) {
  AnswerData d{};
  // Selector 0 is the spectrum of the detector input; the other spectrum
  // memories hold nothing until something is acquired into them.
  if (selector != 0) return d;
  count = std::min<uint32_t>(count, 32);
  for (uint32_t i = 0; i < count; ++i) put32(&d[4 * i], channel_counts(first + i, now));
  return d;
}

AnswerData Analyser::debug_answer() const {
  AnswerData d{};
  std::memcpy(&d[0], "lyrasim debug", 13);
  // The parameter block as last written.
  put16(&d[16], ahrc_selector_);
  for (size_t i = 0; i < ahrc_.size(); ++i) put32(&d[18 + 4 * i], ahrc_[i]);
  return d;
}

void Analyser::put_settings(uint16_t answer_code, AnswerData& d) const {
  for (const SettingReadback& r : kSettingReadback) {
    if (r.answer_code != answer_code) continue;
    auto it = settings_.find(r.code);
    if (it != settings_.end()) std::memcpy(&d[r.offset], it->second.data(), r.size);
  }
}

std::vector<uint8_t> Analyser::long_data(const Command& c, SteadyClock::time_point now) {
  auto fill = [](size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(mix(seed * 4099 + i) & 0xFF);
    return v;
  };
  switch (c.code()) {
    case 263: {  // common memory: 720 samples from sample index d(word 1)
      std::vector<uint8_t> v(1440);
      uint64_t first = c.dword(1);
      uint64_t filled = memory_fill_bytes(now) / 2;
      for (uint64_t i = 0; i < 720; ++i) {
        uint64_t index = first + i;
        uint16_t s = index < filled ? signal_sample(index) : 0;
        put16(&v[2 * i], s);
      }
      return v;
    }
    case 264: {  // EEPROM information
      if (id_.head) {
        // A measuring head identifies itself with a text in the block.
        std::vector<uint8_t> v(1024, 0);
        std::snprintf(reinterpret_cast<char*>(v.data()), v.size(), "Trebla measuring head (lyrasim) SN=%u FW=%04X",
                      id_.head_serial, static_cast<unsigned>(id_.firmware));
        return v;
      }
      std::vector<uint8_t> v(1024, 0xFF);
      put16(&v[0], id_.serial);
      put16(&v[2], id_.firmware);
      put16(&v[4], id_.variant);
      std::memcpy(&v[16], "MCA-740", 7);
      return v;
    }
    case 265: case 305: case 516: {  // histograms: 256 or 360 channels of 32 bits
      size_t n = c.code() == 265 ? 1024 : 1440;
      std::vector<uint8_t> v(n);
      uint32_t first = c.word(1);
      for (size_t i = 0; i < n / 4; ++i) put32(&v[4 * i], channel_counts(first + static_cast<uint32_t>(i), now));
      return v;
    }
    case 270: return fill(1452, c.word(1));
    case 274: {  // oscilloscope screen: 504 samples from index d(word 1)
      std::vector<uint8_t> v(1008);
      for (uint32_t i = 0; i < 504; ++i) put16(&v[2 * i], signal_sample(c.dword(1) + i) & 0x3FFF);
      return v;
    }
    case 293: {  // extension receive block: count, then the bytes at the end
      std::vector<uint8_t> v(1026, 0);
      size_t n = std::min<size_t>(extension_rx_.size(), 1024);
      put16(&v[0], static_cast<uint16_t>(n));
      std::memcpy(&v[1026 - n], extension_rx_.data() + (extension_rx_.size() - n), n);
      if (c.word(1) != 0) extension_rx_.clear();
      return v;
    }
    case 297: case 298: {
      std::vector<uint8_t> v(1444);
      put16(&v[0], c.word(1));
      put16(&v[2], 720);
      for (uint32_t i = 0; i < 720; ++i) put16(&v[4 + 2 * i], signal_sample(uint64_t{c.word(1)} * 720 + i) & 0x3FFF);
      return v;
    }
    case 299: return fill(1442, 299);
    case 302: return fill(1032, c.dword(1));
    case 307: {  // detector information, 1024 bytes a page
      std::vector<uint8_t> v(1024, 0);
      size_t from = size_t{c.word(1)} * 1024;
      for (size_t i = 0; i < 1024 && from + i < detector_info_.size(); ++i) v[i] = detector_info_[from + i];
      return v;
    }
    default: return {};
  }
}

namespace {
size_t long_length(uint16_t code) {
  switch (code) {
    case 263: case 305: case 516: return 1440;
    case 264: case 265: case 307: return 1024;
    case 270: return 1452;
    case 274: return 1008;
    case 293: return 1026;
    case 297: case 298: return 1444;
    case 299: return 1442;
    case 302: return 1032;
    default: return 0;
  }
}
}  // namespace

// Applies a setting command; false for a code the device does not know.
bool Analyser::apply_setting(const Command& c, SteadyClock::time_point now) {
  const uint16_t code = c.code();
  auto set_hv = [&](uint16_t volts) {
    hv_from_ = actual_hv(now);
    hv_set_ = std::min(volts, id_.max_hv);
    hv_changed_ = now;
  };
  switch (code) {
    case 65:  // reset
      running_ = false;
      memory_armed_ = false;
      accumulated_seconds_ = 0;
      mode_ = 0;
      preset_kind_ = 0;
      preset_value_ = 0;
      return true;
    case 66:  // start
      if (!running_) {
        running_ = true;
        started_ = now;
      }
      memory_armed_ = true;
      memory_started_ = now;
      return true;
    case 67:  // stop
      if (running_) accumulated_seconds_ += std::chrono::duration<double>(now - started_).count();
      running_ = false;
      memory_armed_ = false;
      return true;
    case 68:  // clear: 0 memory, 1 time, 2 ROI, 3 all
      if (c.word(1) == 0 || c.word(1) == 1 || c.word(1) == 3) {
        accumulated_seconds_ = 0;
        if (running_) started_ = now;
      }
      if (c.word(1) == 2 || c.word(1) == 3) roi_low_ = roi_high_ = 0;
      return true;
    case 69: mode_ = c.word(1); return true;
    case 71: threshold_ = c.word(1); return true;
    case 72: preset_kind_ = c.word(1); preset_value_ = c.dword(2); return true;
    case 73: roi_low_ = c.word(1); roi_high_ = c.word(2); return true;
    case 76: gain_coarse_ = c.word(1); gain_fine_ = c.word(2); return true;
    case 78: preamp_power_ = c.word(1); return true;
    case 79:  // volts in word 1, polarity (0 positive) in words 2-3
      set_hv(c.word(1));
      hv_polarity_ = c.dword(2) != 0 ? 1 : 0;
      return true;
    case 84: mca_input_ = c.word(1); return true;
    case 85: mcs_input_ = c.word(1); return true;
    case 86: polarity_ = c.word(1); return true;
    case 87:
      if (c.word(1) < user_data_.size()) user_data_[c.word(1)] = c.dword(2);
      return true;
    case 88:
      // 0xFFFF measures the pole-zero value: the decay of the synthetic
      // pulses (2 us) at the current coarse gain.
      if (c.word(1) == 0xFFFF) pzc_value_ = static_cast<uint16_t>(400 + 2 * gain_coarse_);
      else pzc_value_ = c.word(2);
      return true;
    case 260: clock_base_ = c.dword(1); clock_set_ = now; return true;
    case 261: general_mode_ = c.word(1); return true;
    case 279: fill_stop_ = c.dword(1); return true;
    case 282:
      for (int i = 0; i < 6; ++i) extension_port_[static_cast<size_t>(i)] = c.byte(i);
      return true;
    case 287: extension_tx_.clear(); return true;
    case 288: {  // six characters; the unused tail is 0
      std::string bytes;
      for (int i = 0; i < 6 && c.byte(i) != 0; ++i) bytes.push_back(static_cast<char>(c.byte(i)));
      extension_tx_ += bytes;
      // A loopback plug on the extension port: what goes out comes back in.
      extension_receive(bytes);
      return true;
    }
    case 289: {  // binary: count in word 1, up to four bytes in bytes 2-5
      std::string bytes;
      for (int i = 0; i < std::min<int>(c.word(1), 4); ++i) bytes.push_back(static_cast<char>(c.byte(2 + i)));
      extension_tx_ += bytes;
      extension_receive(bytes);
      return true;
    }
    case 290: pulsers_running_ = static_cast<uint16_t>(pulsers_running_ | (1u << (c.word(1) & 15))); return true;
    case 291: pulsers_running_ = static_cast<uint16_t>(pulsers_running_ & ~(1u << (c.word(1) & 15))); return true;
    case 304:
      if (c.word(1) == 0xFFFF) ahrc_selector_ = c.word(2);
      else if (c.word(1) < 10) ahrc_[c.word(1)] = c.dword(2);
      return true;
    case 309: delete_armed_ = std::make_pair(c.dword(1), c.word(3)); return true;
    case 310:
      // Only a step 2 that repeats the armed step 1 deletes; either way the
      // arming is used up.
      if (delete_armed_ && delete_armed_->first == c.dword(1) && delete_armed_->second == c.word(3)) {
        ++files_deleted_;
        last_deleted_file_ = c.dword(1);
      }
      delete_armed_.reset();
      return true;
    case 308: {  // detector information chunk
      uint16_t header = c.word(1);
      if ((header & 0x40) != 0) {
        detector_info_.clear();
        detector_info_open_ = true;
      }
      if (!detector_info_open_) return true;
      int n = std::clamp(header & 0x07, 0, 4);
      for (int i = 0; i < n && detector_info_.size() < 2048; ++i) detector_info_.push_back(c.byte(2 + i));
      if ((header & 0x80) != 0) detector_info_open_ = false;
      return true;
    }
    default:
      if (!is_plain_setting(code)) return false;
      for (int i = 0; i < 6; ++i) settings_[code][static_cast<size_t>(i)] = c.byte(i);
      return true;
  }
}

std::vector<uint8_t> Analyser::respond(const Command& c, SteadyClock::time_point now) {
  const uint16_t code = c.code();
  const bool newer = code >= 257;
  if (newer && id_.model == Model::mca310) return error_answer(0xAAAB);  // unknown to the older model

  if (size_t len = long_length(code); len != 0) {
    std::vector<uint8_t> data = long_data(c, now);
    data.resize(len, 0);
    return long_answer(data, c);
  }

  AnswerData d{};
  switch (code) {
    case 5: d = voltage_current_answer(now); break;
    case 89: d = power_answer(now); break;
    case 90: d = state_answer(now); break;
    case 91: d = spectrum_answer(c.word(1) & 0x0FFF, c.word(2), c.word(1) >> 12, now); break;
    case 258: d = spectrum_answer(c.word(1), c.word(2), c.word(3), now); break;
    case 92: d = spectrum_answer(c.word(1), 32, 0, now); break;
    case 93: {  // enrichment: counts of two ranges
      uint64_t a = 0, b = 0;
      for (uint32_t i = 0; i < c.byte(0); ++i) a += channel_counts(c.word(2) + i, now);
      for (uint32_t i = 0; i < c.byte(1); ++i) b += channel_counts(c.word(3) + i, now);
      put32(&d[0], static_cast<uint32_t>(a));
      put32(&d[4], static_cast<uint32_t>(b));
      break;
    }
    case 94: {  // user data, 26 words a page
      for (size_t i = 0; i < 26; ++i) {
        size_t index = size_t{c.word(1)} * 26 + i;
        put32(&d[4 * i], index < user_data_.size() ? user_data_[index] : 0);
      }
      break;
    }
    case 95: {  // centroid of a range, in 1/1000 channel
      double sum = 0, weighted = 0;
      for (uint32_t ch = c.word(1); ch <= c.word(2) && ch < 4096; ++ch) {
        double n = channel_counts(ch, now);
        sum += n;
        weighted += n * ch;
      }
      put32(&d[0], sum > 0 ? static_cast<uint32_t>(weighted / sum * 1000.0) : 0);
      put32(&d[4], static_cast<uint32_t>(sum));
      break;
    }
    case 98:
      put16(&d[0], id_.serial);
      put16(&d[2], id_.firmware);
      if (id_.system_defaults != 0) {
        d[122] = 12;
        d[123] = 24;
      }
      break;
    case 101: break;  // the UF6 regions, from the settings
    case 102: put32(&d[0], static_cast<uint32_t>(live_seconds(now))); break;
    case 257: d = state740_answer(now); break;
    case 272: d = state740_ex_answer(now); break;
    case 303:  // the extension port
      for (int i = 0; i < 6; ++i) d[static_cast<size_t>(i)] = extension_port_[static_cast<size_t>(i)];
      put16(&d[6], pulsers_running_);
      put16(&d[8], static_cast<uint16_t>(extension_tx_.size()));
      put16(&d[10], static_cast<uint16_t>(extension_rx_.size()));
      put32(&d[42], files_deleted_);
      put32(&d[46], last_deleted_file_);
      break;
    case 294: for (size_t i = 0; i < 26; ++i) put32(&d[4 * i], static_cast<uint32_t>(1000 + i)); break;
    case 300: put16(&d[0], 1200); put16(&d[2], 6); break;
    case 513: d = debug_answer(); break;
    case 65532: put16(&d[0], id_.serial); put16(&d[2], id_.firmware); put16(&d[4], id_.variant); break;
    default:
      if (!apply_setting(c, now)) return error_answer(0xAAAB);
      // Setters answer with the state as it now is.
      d = code >= 257 ? state740_answer(now) : state_answer(now);
      if (code < 257) put_settings(90, d);
      break;
  }
  put_settings(code, d);
  return is_bulk_code(code) ? bulk_answer(d, c) : short_answer(d, c);
}

}  // namespace lyrasim
