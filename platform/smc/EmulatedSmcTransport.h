#pragma once

#include "core/common/Json.h"
#include "core/smc/SMCProtocol.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ventoral {

// An in-memory controller for tests and demos, answering as a real one would.
class EmulatedSmcTransport final : public SmcTransport {
public:
    struct Key {
        std::string type;                // four characters, e.g. "flt "
        std::vector<std::uint8_t> bytes; // exactly the key's size
        bool writable = false;
        bool rootOnly = true; // writes from a non-root caller are refused as not privileged
        std::uint8_t attributes = 0;
    };

    // The result byte the controller gives for an unknown key.
    static constexpr std::uint8_t keyNotFoundResult = 0x84;
    static constexpr std::uint8_t notWritableResult = 0x86;

    explicit EmulatedSmcTransport(std::map<std::string, Key> keys = {}, bool callerIsRoot = false);

    // Throws DecodingError with the reason when the profile is malformed.
    static std::unique_ptr<EmulatedSmcTransport> fromProfile(const Json& profile,
                                                             bool callerIsRoot);
    static std::unique_ptr<EmulatedSmcTransport> fromProfileFile(const std::string& path,
                                                                 bool callerIsRoot);
    // The bytes a number takes in a key of `type` and `size` (floats little-endian, the rest
    // big-endian); throws DecodingError for a type that cannot hold numbers.
    static std::vector<std::uint8_t> encodeNumber(double value, const std::string& type,
                                                  std::size_t size);

    bool open() override;
    void close() override;
    bool isOpen() const override;
    Reply call(const SMCRecordBytes& input) override;

    // Fault injection and inspection.
    void setKey(const std::string& name, Key key);
    void removeKey(const std::string& name);
    std::optional<Key> key(const std::string& name) const;
    void refuseKey(const std::string& name); // key info answers "not found"
    void failCallsWith(std::int32_t kernelReturn, int count = 1 << 30);
    void setOpenable(bool openable);
    int callCount() const;
    int callCount(const std::string& name) const;
    std::optional<SMCKeyData_t> lastInput() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, Key> keys_;
    std::set<std::string> refused_;
    bool callerIsRoot_;
    bool openable_ = true;
    bool open_ = false;
    std::int32_t failure_ = 0;
    int failuresLeft_ = 0;
    int calls_ = 0;
    std::map<std::string, int> callsPerKey_;
    std::optional<SMCKeyData_t> lastInput_;
};

} // namespace ventoral
