// The Quake 4 exchanges as velder speaks them (a server's status, a master's
// list), and the limits of the result text: every number and byte pattern
// here is named once, and the library, the stand-in servers, the tool and
// the tests all use these names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velder {

// Quake 4 1.4.2 speaks protocol 2.85.
inline constexpr std::uint16_t kProtocolMajor = 2;
inline constexpr std::uint16_t kProtocolMinor = 85;
// A server listens here unless told otherwise.
inline constexpr std::uint16_t kGamePort = 28004;

// FF FF "getInfo" 00, then the challenge.
inline constexpr char kStatusRequestHead[] = "\xFF\xFFgetInfo";  // its NUL is sent too
inline constexpr std::size_t kStatusRequestHeadLength = sizeof(kStatusRequestHead);
// The status request GetInfo sends, exactly these 13 bytes: the head and the
// challenge 02 00 00.
inline constexpr unsigned char kStatusRequest[13] = {0xFF, 0xFF, 'g',  'e',  't',  'I', 'n',
                                                     'f',  'o',  0x00, 0x02, 0x00, 0x00};
constexpr bool StatusRequestOpensWithItsHead() {
    for (std::size_t i = 0; i < kStatusRequestHeadLength; ++i) {
        if (kStatusRequest[i] != static_cast<unsigned char>(kStatusRequestHead[i])) {
            return false;
        }
    }
    return true;
}
static_assert(StatusRequestOpensWithItsHead());
// FF FF "infoResponse" 00, then the challenge echoed, the protocol version
// (minor, then major, 16 bits each) and the variables.
inline constexpr char kStatusReplyHead[] = "\xFF\xFFinfoResponse";
inline constexpr std::size_t kStatusReplyHeadLength = sizeof(kStatusReplyHead);

// FF FF "getServers" 00, then the request's fields.
inline constexpr char kServersRequestHead[] = "\xFF\xFFgetServers";  // its NUL is sent too
inline constexpr std::size_t kServersRequestHeadLength = sizeof(kServersRequestHead);
// FF FF "servers" 00, then entries.
inline constexpr char kServersReplyHead[] = "\xFF\xFFservers";
inline constexpr std::size_t kServersReplyHeadLength = sizeof(kServersReplyHead);

// The reply: a text section, the section marker, records, the end pattern.
inline constexpr unsigned char kReplyRecordsMarker[3] = {0x00, 0x00, 0x00};
inline constexpr unsigned char kEndPattern[5] = {0x20, 0x01, 0x00, 0x00, 0x00};
// Raw bytes opening each record: bytes 1 and 2 are its number (the ping).
inline constexpr std::size_t kRecordHeadLength = 6;

// Only the first 900 bytes of a reply are ever read.
inline constexpr std::size_t kTranscriptionWindow = 900;
// The longest reply datagram taken; a longer one counts as a failed receive.
inline constexpr std::size_t kReceiveCapacity = 10240;
// The host name before the colon, NUL included; a longer one is refused.
inline constexpr std::size_t kServerNameCapacity = 1024;
// How long a query waits for the reply.
inline constexpr std::uint32_t kReplyWaitMilliseconds = 650;
// The round-trip field never shows more than this.
inline constexpr std::uint32_t kRoundTripCeiling = 9999;

// The result text: four digits of round-trip time, then the transcribed
// reply, whose fields are divided by 0xFF and whose records are opened and
// closed by 0xFE.
inline constexpr std::size_t kRoundTripDigits = 4;
inline constexpr char kFieldSeparator = '\xFF';
inline constexpr char kTextRecordsMark = '\xFE';
// The whole result text when the server answered but its reply could not be read.
inline constexpr char kUnreadableReply[] = "9999";
// The most a transcription can write after the round-trip digits, the NUL
// not counted: FF FE, a five-digit number and FF, and 890 escaped bytes.
inline constexpr std::size_t kLongestTranscription = 2678;

}  // namespace velder
