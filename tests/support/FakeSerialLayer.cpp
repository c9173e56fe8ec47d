#include "tests/support/FakeSerialLayer.h"

#include <algorithm>
#include <cstring>

namespace varnox::test {

using serial::HandleType;

const char* OpName(Op op) {
    switch (op) {
        case Op::kOpen: return "Open";
        case Op::kGetState: return "GetState";
        case Op::kSetState: return "SetState";
        case Op::kSetTimeouts: return "SetTimeouts";
        case Op::kPurge: return "Purge";
        case Op::kEscape: return "Escape";
        case Op::kModemStatus: return "ModemStatus";
        case Op::kRead: return "Read";
        case Op::kWrite: return "Write";
        case Op::kClose: return "Close";
    }
    return "?";
}

void FakeSerialLayer::ClearFailures() {
    failures_.clear();
    alwaysFail_.clear();
    escapeFailures_.clear();
}

std::vector<Op> FakeSerialLayer::Ops() const {
    std::vector<Op> ops;
    for (const Call& call : calls_) ops.push_back(call.op);
    return ops;
}

bool FakeSerialLayer::Record(Call call, HandleType h) {
    const Op op = call.op;
    const serial::Escape escape = call.escape;
    calls_.push_back(std::move(call));
    bool fail = alwaysFail_.count(op) != 0;
    auto scheduled = failures_.find(op);
    if (scheduled != failures_.end() && --scheduled->second == 0) {
        failures_.erase(scheduled);
        fail = true;
    }
    if (op == Op::kEscape && escapeFailures_.erase(escape) != 0) fail = true;
    // Like the real functions, every operation fails on a handle not held.
    if (op != Op::kOpen && open_.count(h) == 0) fail = true;
    return !fail;
}

HandleType FakeSerialLayer::Open(const char* name) {
    Call call(Op::kOpen);
    call.text = name;
    if (!Record(call, serial::kInvalidHandle) || held_.count(name) != 0) {
        return serial::kInvalidHandle;
    }
    const HandleType h = nextHandle_++;
    open_[h] = name;
    held_.insert(name);
    return h;
}

bool FakeSerialLayer::GetState(HandleType h, serial::LineSettings& settings) {
    if (!Record(Call(Op::kGetState), h)) return false;
    settings = reported;
    return true;
}

bool FakeSerialLayer::SetState(HandleType h, const serial::LineSettings& settings) {
    if (!Record(Call(Op::kSetState), h)) return false;
    applied = settings;
    return true;
}

bool FakeSerialLayer::SetTimeouts(HandleType h, const serial::Timeouts& timeouts) {
    Call call(Op::kSetTimeouts);
    call.timeouts = timeouts;
    return Record(call, h);
}

bool FakeSerialLayer::Purge(HandleType h) {
    if (!Record(Call(Op::kPurge), h)) return false;
    pending_.clear();
    return true;
}

bool FakeSerialLayer::EscapeFunction(HandleType h, serial::Escape what) {
    Call call(Op::kEscape);
    call.escape = what;
    return Record(call, h);
}

bool FakeSerialLayer::ModemStatus(HandleType h, std::uint32_t& bits) {
    if (!Record(Call(Op::kModemStatus), h)) return false;
    bits = modemBits_;
    return true;
}

bool FakeSerialLayer::Read(HandleType h, void* buffer, std::uint32_t wanted, std::uint32_t& got) {
    Call call(Op::kRead);
    call.count = wanted;
    got = 0;
    if (!Record(call, h)) return false;
    got = static_cast<std::uint32_t>(std::min<std::size_t>(wanted, pending_.size()));
    std::memcpy(buffer, pending_.data(), got);
    pending_.erase(0, got);
    return true;
}

bool FakeSerialLayer::Write(HandleType h, const void* data, std::uint32_t count,
                            std::uint32_t& written) {
    Call call(Op::kWrite);
    call.count = count;
    call.text.assign(static_cast<const char*>(data), count);
    written = 0;
    if (!Record(call, h)) return false;
    written = count;
    if (shortWrite_ && --shortWriteIn_ == 0) {
        written = *shortWrite_;
        shortWrite_.reset();
    }
    written_.append(static_cast<const char*>(data), std::min(written, count));
    return true;
}

bool FakeSerialLayer::Close(HandleType h) {
    const bool ok = Record(Call(Op::kClose), h);
    // The handle is given up even when closing it is refused.
    auto it = open_.find(h);
    if (it != open_.end()) {
        held_.erase(it->second);
        open_.erase(it);
    }
    return ok;
}

}  // namespace varnox::test
