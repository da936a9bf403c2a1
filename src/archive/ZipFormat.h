#pragma once
// The vocabulary of the backup archive's ZIP layout: record signatures, fixed record sizes, flag
// bits, version numbers and the all-ones markers that send a value to the Zip64 records.
// Shared by the archive reader and writer; owned with the reader's files.
//
// Record fields come from the local header (L), the central header (C) or both (L+C):
//   signature, version needed, flags, method, DOS time/date, CRC-32, sizes, name length and
//   extra length are L+C; version made by, comment length, disk number start, internal and
//   external attributes and the local header offset are C only.

#include <cstdint>

namespace archive::zip {

// Record signatures.
constexpr std::uint32_t kLocalHeaderSig = 0x04034B50;
constexpr std::uint32_t kCentralHeaderSig = 0x02014B50;
constexpr std::uint32_t kEndCentralSig = 0x06054B50;
constexpr std::uint32_t kZip64EndCentralSig = 0x06064B50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064B50;
constexpr std::uint32_t kDataDescriptorSig = 0x08074B50;

// Fixed part of each record, in bytes.
constexpr std::uint32_t kLocalHeaderSize = 30;
constexpr std::uint32_t kCentralHeaderSize = 46;
constexpr std::uint32_t kEndCentralSize = 22;
constexpr std::uint32_t kZip64EndCentralSize = 56;
constexpr std::uint32_t kZip64LocatorSize = 20;
// Size of the Zip64 end record after its signature and size field (what its size field holds).
constexpr std::uint64_t kZip64EndCentralRest = 44;
// The 12 bytes ahead of the data of a traditionally encrypted entry.
constexpr std::uint32_t kEncryptionHeaderSize = 12;
// A data descriptor as skipped after an entry's data: signature, CRC-32 and two 32-bit sizes.
constexpr std::uint32_t kDataDescriptorSize = 16;

// The end record plus the longest comment it can carry: the tail searched for the end record.
constexpr std::uint32_t kMaxCommentLength = 0xFFFF;
constexpr std::uint32_t kEndSearchWindow = kEndCentralSize + kMaxCommentLength;  // 65 557

// Local header field offsets used to skip to an entry's data.
constexpr std::uint32_t kLocalNameLengthOffset = 26;
constexpr std::uint32_t kLocalExtraLengthOffset = 28;

// General-purpose flag bits.
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagMaxCompression = 0x0002;   // level 8 or 9
constexpr std::uint16_t kFlagFastCompression = 0x0004;  // level 2 or lower
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint16_t kFlagUtf8 = 0x0800;

// Compression methods.
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodShrunk = 1;
constexpr std::uint16_t kMethodReduced1 = 2;
constexpr std::uint16_t kMethodReduced4 = 5;
constexpr std::uint16_t kMethodImploded = 6;
constexpr std::uint16_t kMethodDeflated = 8;
// WinZip AES encryption: the real method is in the entry's AES extra block.
constexpr std::uint16_t kMethodWinZipAes = 99;

// Versions: 2.0 for deflate and encryption, 4.5 for Zip64. The high byte of "version made by" is
// the host system; 0 is MS-DOS/FAT attributes, 10 is NTFS.
constexpr std::uint16_t kVersionDefault = 20;
constexpr std::uint16_t kVersionZip64 = 45;
constexpr std::uint16_t kVersionMadeBy = 45;  // host 0, version 4.5
constexpr std::uint8_t kHostMsDos = 0;
constexpr std::uint8_t kHostNtfs = 10;

// Zip64 extended information extra block.
constexpr std::uint16_t kZip64ExtraTag = 0x0001;
// Info-ZIP Unicode Path extra block: the entry's name in UTF-8 beside a name in a code page.
constexpr std::uint16_t kUnicodePathTag = 0x7075;
constexpr std::uint16_t kExtraBlockHeaderSize = 4;  // tag + data length

// Field values that mean "the real value is in the Zip64 records".
constexpr std::uint16_t kMarker16 = 0xFFFF;
constexpr std::uint32_t kMarker32 = 0xFFFFFFFF;
// Entry counts above this do not fit the end record's 16-bit fields.
constexpr std::uint64_t kMaxEntries16 = 65534;

// A 64-bit size or offset fits its 32-bit field when its upper half is zero and its lower half
// is not the marker.
constexpr bool Fits32(std::uint64_t value) { return value < kMarker32; }
constexpr bool Fits16(std::uint64_t value) { return value < kMarker16; }

}  // namespace archive::zip
