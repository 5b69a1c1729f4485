// The Quake 4 status exchange as GetInfo speaks it, and the limits of the
// result text: every number and byte pattern here is named once, and the
// library, the stand-in server, the tool and the tests all use these names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velder {

// The status request, sent as exactly these 13 bytes: FF FF "getInfo" 00 02 00 00.
inline constexpr unsigned char kStatusRequest[13] = {0xFF, 0xFF, 'g',  'e',  't',  'I', 'n',
                                                     'f',  'o',  0x00, 0x02, 0x00, 0x00};

// The reply: a text section, the section marker, records, the end pattern.
inline constexpr unsigned char kSectionMarker[3] = {0x00, 0x00, 0x00};
inline constexpr unsigned char kEndPattern[5] = {0x20, 0x01, 0x00, 0x00, 0x00};
// Raw bytes opening each record: bytes 1 and 2 are its number (the ping).
inline constexpr std::size_t kRecordHeadLength = 6;

// Only the first 900 bytes of a reply are ever read.
inline constexpr std::size_t kTranscriptionWindow = 900;
// The longest reply datagram taken; a longer one counts as a failed receive.
inline constexpr std::size_t kReceiveCapacity = 10240;
// The host name before the colon, NUL included; a longer one is refused.
inline constexpr std::size_t kHostNameCapacity = 1024;
// How long a query waits for the reply.
inline constexpr std::uint32_t kReplyWaitMilliseconds = 650;
// The round-trip field never shows more than this.
inline constexpr std::uint32_t kRoundTripCeiling = 9999;

// The result text: four digits of round-trip time, then the transcribed
// reply, whose fields are divided by 0xFF and whose records are opened and
// closed by 0xFE.
inline constexpr std::size_t kRoundTripDigits = 4;
inline constexpr char kFieldSeparator = '\xFF';
inline constexpr char kSectionMark = '\xFE';
// The whole result text when the server answered but its reply could not be read.
inline constexpr char kUnreadableReply[] = "9999";
// The most a transcription can write after the round-trip digits, the NUL
// not counted: FF FE, a five-digit number and FF, and 890 escaped bytes.
inline constexpr std::size_t kLongestTranscription = 2678;

}  // namespace velder
