// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "sim/gimbalmodel.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "link/crc16.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

const ParamBlock GimbalModel::kDefaultBlock = {60, 90, 100, 33, 5, 120, 30, 150, 45,
                                               1, 6, 200, 7, 2, 80, 35, 175, 65};

ParamBlock GimbalModel::defaultWith(const Channels &channels)
{
    ParamBlock b = kDefaultBlock;
    for (int f = 0; f < kFunctionCount; ++f)
        b[kFunctionSlot[f]] = channels[f];
    return b;
}

namespace {

constexpr std::uint8_t kAllCommands[] = {WRITE_PARAM_1,    WRITE_PARAM_2,    WRITE_PARAM_3, READ_PARAM_1,
                                         READ_PARAM_2,     READ_PARAM_3,     POLL_POSITIONS_1,
                                         POLL_POSITIONS_2, POLL_GIMBAL,      POLL_TEST_DATA};

// Gimbal status byte of the POLL_GIMBAL reply: bit 0 set while no gimbal is
// attached; bit 4 is this controller's "motors powered", which hosts ignore.
constexpr std::uint8_t kGimbalStatusBits = 0x10;

constexpr double kTwoPi = 6.283185307179586;

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

namespace {
// Where a store lands: the path, or the regular file a link names, so the
// link stays. Empty for anything that is no regular file: a FIFO would hang
// the simulator, and the rename would turn a device node into a file.
std::string flashTarget(const std::string &path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? path : std::string();
    if (S_ISREG(st.st_mode))
        return path;
    if (!S_ISLNK(st.st_mode))
        return {};
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real || ::stat(real.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return real.get();
}
} // namespace

GimbalModel::GimbalModel(std::string flashPath, std::uint32_t seed)
    : flashPath_(std::move(flashPath))
    , rng(seed)
{
    flash_ = kDefaultBlock;
    if (!flashPath_.empty() && flashTarget(flashPath_).empty()) {
        flashState_ = FlashState::NotAFile;
    } else if (!flashPath_.empty()) {
        flashState_ = FlashState::Unusable;
        if (std::FILE *f = std::fopen(flashPath_.c_str(), "rb")) {
            ParamBlock stored{};
            // Exactly 18 bytes, or the copy is not trusted.
            const std::size_t got = std::fread(stored.data(), 1, stored.size(), f);
            const bool exact = got == stored.size() && std::fgetc(f) == EOF && !std::ferror(f);
            std::fclose(f);
            if (exact) {
                flash_ = stored;
                flashState_ = FlashState::Loaded;
            }
        } else if (errno == ENOENT) {
            flashState_ = FlashState::Missing;
        }
    }
    ram_ = flash_;
}

void GimbalModel::silenceFor(std::int64_t nowMs, std::int64_t durationMs)
{
    faults.silentUntilMs = durationMs >= kForever - nowMs ? kForever : nowMs + durationMs;
}

std::vector<std::vector<std::uint8_t>> GimbalModel::receive(const std::uint8_t *data, std::size_t size,
                                                            std::int64_t nowMs)
{
    std::vector<std::vector<std::uint8_t>> out;
    pending.insert(pending.end(), data, data + size);
    for (;;) {
        const auto header = std::search(pending.begin(), pending.end(), std::begin(kRequestHeader),
                                        std::end(kRequestHeader));
        if (header == pending.end()) {
            // A lone first header byte at the end may be the start of the next request.
            const bool keepLast = !pending.empty() && pending.back() == kRequestHeader[0];
            pending.erase(pending.begin(), pending.end() - (keepLast ? 1 : 0));
            break;
        }
        pending.erase(pending.begin(), header);
        if (pending.size() < kFrameSize)
            break;
        Frame request;
        std::copy_n(pending.begin(), kFrameSize, request.begin());
        if (crc16(request.data(), static_cast<std::uint8_t>(kFrameSize)) != 0) {
            // Unlike the PC, the controller looks for a request again right
            // after a header that led nowhere.
            ++requestsIgnored_;
            pending.erase(pending.begin(), pending.begin() + 2);
            continue;
        }
        pending.erase(pending.begin(), pending.begin() + kFrameSize);
        handle(request, nowMs, out);
    }
    return out;
}

void GimbalModel::handle(const Frame &request, std::int64_t nowMs, std::vector<std::vector<std::uint8_t>> &out)
{
    ++requestsSeen_;
    lastCommand_ = request[FrameOffset::kCommand];
    if (nowMs < faults.silentUntilMs) {
        // Hung: it neither acts on the request nor answers it.
        lastOutcome_ = Outcome::Silent;
        return;
    }
    if (nowMs - lastRequestMs > kContactGapMs)
        contactStartMs = nowMs;
    lastRequestMs = nowMs;

    Frame reply = answer(request, nowMs);
    lastOutcome_ = Outcome::Answered;
    if (draw(faults.dropShare)) {
        lastOutcome_ = Outcome::Dropped;
        return;
    }
    if (draw(faults.corruptShare)) {
        reply[FrameOffset::kCrcLow] ^= 0x5A;
        lastOutcome_ = Outcome::Corrupted;
    } else if (draw(faults.wrongEchoShare)) {
        std::uint8_t other = request[FrameOffset::kCommand];
        while (other == request[FrameOffset::kCommand])
            other = kAllCommands[rng() % std::size(kAllCommands)];
        reply[FrameOffset::kCommand] = other;
        sealFrame(reply);
        lastOutcome_ = Outcome::WrongEcho;
    }

    if (faults.noise) {
        std::vector<std::uint8_t> noise(1 + rng() % 8);
        for (auto &b : noise)
            b = static_cast<std::uint8_t>(rng());
        out.push_back(std::move(noise));
    }
    std::size_t sent = 0;
    while (sent < reply.size()) {
        const std::size_t left = reply.size() - sent;
        const std::size_t piece = faults.splitReplies ? 1 + rng() % std::min<std::size_t>(left, 24) : left;
        out.emplace_back(reply.begin() + sent, reply.begin() + sent + piece);
        sent += piece;
    }
}

Frame GimbalModel::answer(const Frame &request, std::int64_t nowMs)
{
    Frame r{};
    r[0] = kReplyHeader[0];
    r[1] = kReplyHeader[1];
    const std::uint8_t command = request[FrameOffset::kCommand];
    r[FrameOffset::kCommand] = command;
    const auto in = request.begin() + FrameOffset::kPayload;
    const auto out = r.begin() + FrameOffset::kPayload;
    switch (command) {
    case WRITE_PARAM_1: std::copy_n(in, 8, ram_.begin()); break;
    case WRITE_PARAM_2: std::copy_n(in, 8, ram_.begin() + 8); break;
    case WRITE_PARAM_3: std::copy_n(in, 2, ram_.begin() + 16); break;
    case READ_PARAM_1: std::copy_n(ram_.begin(), 8, out); break;
    case READ_PARAM_2: std::copy_n(ram_.begin() + 8, 8, out); break;
    case READ_PARAM_3: std::copy_n(ram_.begin() + 16, 2, out); break;
    case POLL_POSITIONS_1: r[41] = static_cast<std::uint8_t>(position(Mode, nowMs)); break;
    case POLL_POSITIONS_2:
        r[38] = static_cast<std::uint8_t>(position(Tilt, nowMs));
        r[39] = static_cast<std::uint8_t>(position(Video, nowMs));
        r[41] = static_cast<std::uint8_t>(position(Zoom, nowMs));
        r[42] = static_cast<std::uint8_t>(position(Heading, nowMs));
        lastPositionPollMs_ = nowMs;
        break;
    case POLL_GIMBAL: r[41] = kGimbalStatusBits | (gimbalConnected(nowMs) ? 0 : 1); break;
    case POLL_TEST_DATA:
        for (int f = 0; f < kFunctionCount; ++f)
            r[39 + f] = testValue(static_cast<Function>(f), nowMs);
        break;
    default:
        // Not a command of this controller: acknowledged with an empty payload.
        break;
    }
    // Stored after the command has acted, so a save riding on the last write stores the whole new block.
    if (request[FrameOffset::kSave] == kSaveRequested && !faults.ignoreStores)
        r[FrameOffset::kSave] = store();
    sealFrame(r);
    return r;
}

std::uint8_t GimbalModel::store()
{
    if (faults.failSaves > 0) {
        --faults.failSaves;
        return kSaveFailed;
    }
    // A controller whose flash is worn or whose firmware drops the write: it
    // says it stored the block, and after a power cycle holds the old one.
    if (faults.forgetSaves > 0) {
        --faults.forgetSaves;
        return kSaveStored;
    }
    if (!flashPath_.empty()) {
        // Written beside and renamed over, so an interrupted store leaves the old copy whole.
        const std::string target = flashTarget(flashPath_);
        if (target.empty())
            return kSaveFailed;
        const std::string temp = target + ".new";
        std::FILE *f = std::fopen(temp.c_str(), "wb");
        if (!f)
            return kSaveFailed;
        const bool written = std::fwrite(ram_.data(), 1, ram_.size(), f) == ram_.size();
        if (std::fclose(f) != 0 || !written || std::rename(temp.c_str(), target.c_str()) != 0) {
            std::remove(temp.c_str());
            return kSaveFailed;
        }
        flashState_ = FlashState::Loaded;
    }
    flash_ = ram_;
    return kSaveStored;
}

bool GimbalModel::draw(double share)
{
    return share > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng) < share;
}

std::int8_t GimbalModel::channelValue(int channel, std::int64_t ms)
{
    if (channel < 1 || channel > kSbusChannels)
        return 0;
    if (channel >= 5 && channel <= 8) {
        static constexpr std::int8_t kSwitch[4] = {-100, 0, 100, 0};
        const std::int64_t dwellMs = 1500 + 400 * (channel - 5);
        const std::int64_t step = floorDiv(ms, dwellMs) + channel;
        return kSwitch[((step % 4) + 4) % 4];
    }
    const double periodMs = 3000.0 + 650.0 * channel;
    const double angle = kTwoPi * std::fmod(static_cast<double>(ms), periodMs) / periodMs + 0.7 * channel;
    return static_cast<std::int8_t>(std::lround(100.0 * std::sin(angle)));
}

std::int8_t GimbalModel::position(Function f, std::int64_t ms) const
{
    return channelValue(ram_[kFunctionSlot[f]], ms);
}

std::uint8_t GimbalModel::testValue(Function f, std::int64_t ms) const
{
    return static_cast<std::uint8_t>(150 + position(f, ms) / 2);
}

bool GimbalModel::gimbalConnected(std::int64_t ms) const
{
    return ms - contactStartMs >= kGimbalBootMs;
}
