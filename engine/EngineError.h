#pragma once
// The one error type every engine operation throws.
//
// A failure carries a 32-bit code and a human-readable message. Two codes are
// tested by the play commands and keep their historic values; the rest are
// our own, all in a private facility so they never collide with those two.

#include <QString>
#include <cstdint>
#include <stdexcept>

namespace velmora {

namespace ErrorCode {
// Tested by the play commands: a decoder the disc needs is missing.
inline constexpr std::int32_t NoDecoder = static_cast<std::int32_t>(0x80040FF6u);   // -2147217418
// Tested by the play commands: the outputs (video surface, sound) cannot be created.
inline constexpr std::int32_t NoInterface = static_cast<std::int32_t>(0x80004002u); // -2147467262

// Our own codes (facility 0x0A5).
inline constexpr std::int32_t NoDisc = static_cast<std::int32_t>(0x80A50001u);          // nothing to open / no disc in the drive
inline constexpr std::int32_t NotADvd = static_cast<std::int32_t>(0x80A50002u);         // source exists but is no DVD-Video
inline constexpr std::int32_t NotInTitle = static_cast<std::int32_t>(0x80A50003u);      // operation needs a title (not a menu, not stopped)
inline constexpr std::int32_t TimeOutOfRange = static_cast<std::int32_t>(0x80A50004u);  // time beyond the title or malformed time code
inline constexpr std::int32_t ChapterOutOfRange = static_cast<std::int32_t>(0x80A50005u);
inline constexpr std::int32_t NotAllowed = static_cast<std::int32_t>(0x80A50006u);      // the disc forbids it here (e.g. no such menu)
inline constexpr std::int32_t InvalidArgument = static_cast<std::int32_t>(0x80A50007u); // argument outside its range (stream number, speed)
inline constexpr std::int32_t DeviceError = static_cast<std::int32_t>(0x80A50008u);     // drive or device refused (eject, ioctl)
inline constexpr std::int32_t Encrypted = static_cast<std::int32_t>(0x80A50009u);       // the titles are scrambled (CSS) and cannot be decrypted
inline constexpr std::int32_t Unreadable = static_cast<std::int32_t>(0x80A5000Au);      // too much of the disc cannot be read (scratched, damaged)
inline constexpr std::int32_t Unexpected = static_cast<std::int32_t>(0x80A500FFu);      // anything else
} // namespace ErrorCode

class EngineError : public std::runtime_error
{
public:
    EngineError(std::int32_t code, const QString &message)
        : std::runtime_error(message.toStdString()), m_code(code), m_message(message) {}

    std::int32_t code() const noexcept { return m_code; }
    const QString &message() const noexcept { return m_message; }

private:
    std::int32_t m_code;
    QString m_message;
};

} // namespace velmora
