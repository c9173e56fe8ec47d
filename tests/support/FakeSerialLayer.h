// A scriptable stand-in for the platform serial layer: it records every call
// in order, fails any single operation on demand, serves queued read bytes
// and can report a short write.
#ifndef VARNOX_TESTS_SUPPORT_FAKESERIALLAYER_H
#define VARNOX_TESTS_SUPPORT_FAKESERIALLAYER_H

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serial/SerialLayer.h"

namespace varnox::test {

enum class Op {
    kOpen,
    kGetState,
    kSetState,
    kSetTimeouts,
    kPurge,
    kEscape,
    kModemStatus,
    kRead,
    kWrite,
    kClose
};

const char* OpName(Op op);

struct Call {
    explicit Call(Op o) : op(o) {}
    Op op;
    serial::Escape escape = serial::Escape::kSetRts;  // kEscape only
    serial::Timeouts timeouts{};                      // kSetTimeouts only
    std::uint32_t count = 0;                          // kRead: wanted, kWrite: size
    std::string text;                                 // kOpen: name, kWrite: bytes
};

class FakeSerialLayer : public serial::SerialLayer {
public:
    static constexpr serial::HandleType kHandle = 42;

    // The next call of `op` fails (or the `nth` one from now).
    void FailNext(Op op, int nth = 1) { failures_[op] = nth; }
    // Fails the next escape call of this kind only.
    void FailEscape(serial::Escape what) { escapeFailures_.insert(what); }
    // Every call of `op` fails until ClearFailures().
    void FailAlways(Op op) { alwaysFail_.insert(op); }
    void ClearFailures();
    // The next write (or the `nth` one from now) succeeds but reports only
    // `count` bytes written.
    void ShortWriteNext(std::uint32_t count, int nth = 1) {
        shortWrite_ = count;
        shortWriteIn_ = nth;
    }
    // Bytes the device has received; reads take from the front.
    void QueueRead(const std::string& bytes) { pending_ += bytes; }
    void SetModemBits(std::uint32_t bits) { modemBits_ = bits; }
    // What GetState reports; SetState records what it was given.
    serial::LineSettings reported;
    std::optional<serial::LineSettings> applied;

    const std::vector<Call>& Calls() const { return calls_; }
    std::vector<Op> Ops() const;
    void ClearCalls() { calls_.clear(); }
    const std::string& Written() const { return written_; }
    const std::string& Pending() const { return pending_; }
    bool Held(const std::string& name) const { return held_.count(name) != 0; }

    serial::HandleType Open(const char* name) override;
    bool GetState(serial::HandleType h, serial::LineSettings& settings) override;
    bool SetState(serial::HandleType h, const serial::LineSettings& settings) override;
    bool SetTimeouts(serial::HandleType h, const serial::Timeouts& timeouts) override;
    bool Purge(serial::HandleType h) override;
    bool EscapeFunction(serial::HandleType h, serial::Escape what) override;
    bool ModemStatus(serial::HandleType h, std::uint32_t& bits) override;
    bool Read(serial::HandleType h, void* buffer, std::uint32_t wanted,
              std::uint32_t& got) override;
    bool Write(serial::HandleType h, const void* data, std::uint32_t count,
               std::uint32_t& written) override;
    bool Close(serial::HandleType h) override;

private:
    // Records the call; false when it is to fail.
    bool Record(Call call, serial::HandleType h);

    std::vector<Call> calls_;
    std::map<Op, int> failures_;
    std::set<Op> alwaysFail_;
    std::set<serial::Escape> escapeFailures_;
    std::optional<std::uint32_t> shortWrite_;
    int shortWriteIn_ = 0;
    std::string pending_;
    std::string written_;
    std::uint32_t modemBits_ = 0;
    // Open handles by name; each open gets the next handle number.
    std::map<serial::HandleType, std::string> open_;
    std::set<std::string> held_;
    serial::HandleType nextHandle_ = kHandle;
};

// Installs a layer for the lifetime of the object.
class ScopedLayer {
public:
    explicit ScopedLayer(serial::SerialLayer& layer) : previous_(serial::InstallLayer(&layer)) {}
    ~ScopedLayer() { serial::InstallLayer(previous_); }
    ScopedLayer(const ScopedLayer&) = delete;
    ScopedLayer& operator=(const ScopedLayer&) = delete;

private:
    serial::SerialLayer* previous_;
};

}  // namespace varnox::test

#endif
