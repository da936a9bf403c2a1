// The archive format pieces shared by reader and writer: CRC-32, the traditional encryption keys,
// DOS date-times, the entry and end records, the entry list and the exception messages.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "archive/ArchiveErrors.h"
#include "archive/ByteBuffer.h"
#include "archive/Crc32.h"
#include "archive/DosDateTime.h"
#include "archive/TEndCentral.h"
#include "archive/TSortedZip.h"
#include "archive/TZipHeaderInfo.h"
#include "archive/ZipCrypto.h"
#include "archive/ZipFormat.h"
#include "archive/ZipTestTools.h"
#include "platform/CodePage.h"
#include "support/TempDir.h"

namespace {

using namespace archive;

std::uint32_t Dos(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned halfSec) {
  const std::uint32_t date = ((year - 1980) << 9) | (month << 5) | day;
  const std::uint32_t time = (hour << 11) | (minute << 5) | halfSec;
  return (date << 16) | time;
}

// --- CRC-32 ---

TEST(Crc32Test, KnownValues) {
  EXPECT_EQ(Crc32Of("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32Of("", 0), 0u);
  EXPECT_EQ(Crc32Table()[1], 0x77073096u);
  EXPECT_EQ(Crc32Table()[255], 0x2D02EF8Du);
}

TEST(Crc32Test, PiecesGiveTheSameRegisterAsTheWhole) {
  const std::string data = ziptest::RandomBytes(100000);
  std::uint32_t reg = 0xFFFFFFFF;
  for (std::size_t at = 0; at < data.size(); at += 777)
    reg = Crc32Update(reg, data.data() + at, std::min<std::size_t>(777, data.size() - at));
  EXPECT_EQ(~reg, Crc32Of(data.data(), data.size()));
  std::uint32_t byByte = 0xFFFFFFFF;
  for (char c : data.substr(0, 1000)) byByte = Crc32Byte(byByte, static_cast<std::uint8_t>(c));
  EXPECT_EQ(byByte, Crc32Update(0xFFFFFFFF, data.data(), 1000));
}

// --- traditional encryption ---

TEST(ZipKeysTest, StartsFromTheFixedKeysAndFeedsThePassword) {
  ZipKeys none("");
  EXPECT_EQ(none.key0(), 0x12345678u);
  EXPECT_EQ(none.key1(), 0x23456789u);
  EXPECT_EQ(none.key2(), 0x34567890u);
  ZipKeys a("pw"), b;
  b.Update('p');
  b.Update('w');
  EXPECT_EQ(a.key0(), b.key0());
  EXPECT_EQ(a.key1(), b.key1());
  EXPECT_EQ(a.key2(), b.key2());
}

TEST(ZipKeysTest, DecryptUndoesEncryptOnlyWithTheSamePassword) {
  const std::string plain = ziptest::SampleText(5000);
  for (const std::string& password : std::vector<std::string>{"", "pw", "K4T8bW2hXe6Jc9NfD", std::string("\xB0\xFF\x01", 3)}) {
    std::vector<std::uint8_t> buf(plain.begin(), plain.end());
    ZipKeys enc(password);
    enc.Encrypt(buf.data(), buf.size());
    EXPECT_NE(std::string(buf.begin(), buf.end()), plain);
    std::vector<std::uint8_t> copy = buf;
    ZipKeys dec(password);
    // Byte by byte and in bulk give the same result.
    for (std::size_t i = 0; i < 100; ++i) copy[i] = dec.DecryptByte(copy[i]);
    dec.Decrypt(copy.data() + 100, copy.size() - 100);
    EXPECT_EQ(std::string(copy.begin(), copy.end()), plain);
    ZipKeys wrong(password + "x");
    wrong.Decrypt(buf.data(), buf.size());
    EXPECT_NE(std::string(buf.begin(), buf.end()), plain);
  }
}

// --- DOS date-time ---

struct NormaliseCase {
  std::uint32_t in;
  std::uint32_t out;
};

TEST(DosDateTimeTest, NormalisesFieldByField) {
  auto raw = [](unsigned yearField, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned halfSec) {
    return (((yearField << 9) | (month << 5) | day) << 16) | (hour << 11) | (minute << 5) | halfSec;
  };
  const NormaliseCase cases[] = {
      // year field 125 (2105), month 13, day 0, 25:61:62 -> 2099-12-01 23:59:58
      {raw(125, 13, 0, 25, 61, 31), Dos(2099, 12, 1, 23, 59, 29)},
      {Dos(2013, 7, 15, 10, 20, 15), Dos(2013, 7, 15, 10, 20, 15)},  // valid: unchanged
      {raw(33, 7, 15, 10, 20, 30), Dos(2013, 7, 15, 10, 20, 29)},     // 60 seconds -> 58
      {raw(33, 13, 15, 10, 20, 0), Dos(2013, 12, 15, 10, 20, 0)},     // month 13 -> December
      {raw(33, 0, 15, 10, 20, 0), Dos(2013, 1, 15, 10, 20, 0)},       // month 0 -> January
      {raw(33, 7, 0, 10, 20, 0), Dos(2013, 7, 1, 10, 20, 0)},         // day 0 -> 1
      {Dos(2099, 12, 31, 23, 59, 29), Dos(2099, 12, 31, 23, 59, 29)},
      {raw(127, 1, 1, 0, 0, 0), Dos(2099, 1, 1, 0, 0, 0)},
      {0, Dos(1980, 1, 1, 0, 0, 0)},
  };
  for (const auto& c : cases) EXPECT_EQ(DosDateTime::NormaliseDos(c.in), c.out) << std::hex << c.in;
}

TEST(DosDateTimeTest, PacksAndUnpacksLocalDateTimes) {
  platform::LocalDateTime t{2013, 7, 15, 10, 20, 31, 0};
  const std::uint32_t dos = DosDateTime::ToDos(t);
  EXPECT_EQ(dos, Dos(2013, 7, 15, 10, 20, 15));  // odd seconds round down
  const platform::LocalDateTime back = DosDateTime::FromDos(dos);
  EXPECT_EQ(back.year, 2013);
  EXPECT_EQ(back.month, 7);
  EXPECT_EQ(back.day, 15);
  EXPECT_EQ(back.hour, 10);
  EXPECT_EQ(back.minute, 20);
  EXPECT_EQ(back.second, 30);
  EXPECT_EQ(DosDateTime::ToDos({1975, 5, 5, 5, 5, 5, 0}), Dos(1980, 1, 1, 0, 0, 0));
}

TEST(DosDateTimeTest, FileTimesRoundTripInLocalTime) {
  testsupport::TempDir dir;
  const std::string path = dir / "f.txt";
  ziptest::WriteFile(path, "x");
  const std::uint32_t when = Dos(2013, 7, 15, 10, 20, 15);
  ASSERT_TRUE(DosDateTime::SetFileTime(path, when));
  EXPECT_EQ(DosDateTime::FileTime(path), when);
  // An out-of-range value is normalised before it is set.
  // Year field 125, month 13, day 0, 25:61:62 is set as 2099-12-01 23:59:58.
  const std::uint32_t wild = (((125u << 9) | (13u << 5) | 0u) << 16) | (25u << 11) | (61u << 5) | 31u;
  ASSERT_TRUE(DosDateTime::SetFileTime(path, wild));
  EXPECT_EQ(DosDateTime::FileTime(path), Dos(2099, 12, 1, 23, 59, 29));
  EXPECT_FALSE(DosDateTime::FileTime(dir / "missing").has_value());
}

// --- TZipHeaderInfo ---

TEST(TZipHeaderInfoTest, FreshRecordHasTheDefaults) {
  TZipHeaderInfo h;
  EXPECT_EQ(h.versionMadeBy, 45);
  EXPECT_EQ(h.versionNeeded, 20);
  EXPECT_EQ(h.flags, 0);
  EXPECT_EQ(h.compressionMethod, 8);
  EXPECT_EQ(h.dosDateTime, 0u);
  EXPECT_EQ(h.crc32, 0xFFFFFFFFu);
  EXPECT_EQ(h.internalAttributes, 1);
  EXPECT_EQ(h.externalAttributes, 0x20u);
  EXPECT_EQ(h.NameLength(), 0);
  EXPECT_EQ(h.oemConvert, TOEMConvert::oemAlways);
  EXPECT_FALSE(h.zip64.has_value());
}

TEST(TZipHeaderInfoTest, NamePartsKeepTheLengthAndTheTrailingSeparator) {
  TZipHeaderInfo h;
  h.SetDirectory("bak/qimzorstatistics");
  EXPECT_EQ(h.Directory(), "bak/qimzorstatistics/");
  h.SetFileName("rptreport.xml");
  EXPECT_EQ(h.NameLength(), 34);
  EXPECT_EQ(h.StoredName(), "bak/qimzorstatistics/rptreport.xml");
  h.SetDirectory("");
  EXPECT_EQ(h.Directory(), "");
  EXPECT_EQ(h.NameLength(), 13);
  h.SetFileName("名单.xml");
  EXPECT_EQ(h.StoredName(), platform::Utf8ToGbk("名单.xml"));
  h.oemConvert = TOEMConvert::oemNever;
  EXPECT_EQ(h.StoredName(), "名单.xml");
}

struct NameCase {
  std::string stored;
  std::uint16_t versionMadeBy;
  std::uint16_t flags;
  TOEMConvert mode;
  std::string directory;
  std::string file;
};

TEST(TZipHeaderInfoTest, NamesFromTheArchive) {
  const std::string gbk = platform::Utf8ToGbk("数据/名单.xml");
  const NameCase cases[] = {
      {"bak/qimzorstatistics/a.xml", 45, 0, TOEMConvert::oemAlways, "bak/qimzorstatistics/", "a.xml"},
      {"sub\\deeper\\d.txt", 20, 0, TOEMConvert::oemAlways, "sub/deeper/", "d.txt"},
      {"dir/", 20, 0, TOEMConvert::oemAlways, "dir/", ""},
      {gbk, 20, 0, TOEMConvert::oemAlways, "数据/", "名单.xml"},          // MS-DOS host: OEM
      {"数据/名单.xml", 0x031E, 0, TOEMConvert::oemAlways, "数据/", "名单.xml"},  // Unix host
      {"数据/名单.xml", 20, 0x0800, TOEMConvert::oemAlways, "数据/", "名单.xml"},  // UTF-8 flag
      {gbk, 20, 0, TOEMConvert::oemNever, gbk.substr(0, gbk.find('/') + 1), gbk.substr(gbk.find('/') + 1)},
      {"数据/名单.xml", 0x0A14, 0, TOEMConvert::oemFlexible, "数据/", "名单.xml"},  // NTFS host
  };
  for (const auto& c : cases) {
    TZipHeaderInfo h(c.mode);
    h.versionMadeBy = c.versionMadeBy;
    h.flags = c.flags;
    h.SetNameFromArchive(c.stored);
    EXPECT_EQ(h.Directory(), c.directory) << c.stored;
    EXPECT_EQ(h.FileName(), c.file) << c.stored;
    EXPECT_EQ(h.IsDirectory(), c.file.empty());
    // Written again exactly as it was read, whatever the conversion on reading.
    EXPECT_EQ(h.StoredName(), c.stored);
  }
  // Setting the name again stores the new one by the code-page mode.
  TZipHeaderInfo h;
  h.versionMadeBy = 0x031E;
  h.SetNameFromArchive("数据/名单.xml");
  h.SetFileName("名单.xml");
  EXPECT_EQ(h.StoredName(), platform::Utf8ToGbk("数据/名单.xml"));
}

TEST(TZipHeaderInfoTest, SixtyFourBitValuesGoToZip64ExactlyWhenTheyDoNotFit) {
  struct Case {
    std::uint64_t value;
    bool fits;
  };
  const Case cases[] = {{0, true}, {0xFFFFFFFEull, true}, {0xFFFFFFFFull, false}, {0x100000000ull, false}, {~0ull, false}};
  for (const auto& c : cases) {
    TZipHeaderInfo h;
    h.SetCompressedSize64(c.value);
    h.SetUncompressedSize64(c.value);
    h.SetLocalHeaderOffset64(c.value);
    EXPECT_EQ(h.CompressedSize64(), c.value);
    EXPECT_EQ(h.UncompressedSize64(), c.value);
    EXPECT_EQ(h.LocalHeaderOffset64(), c.value);
    EXPECT_EQ(h.compressedSize == 0xFFFFFFFFu, !c.fits);
    EXPECT_EQ(h.zip64.has_value(), !c.fits);
  }
  TZipHeaderInfo d;
  d.SetDiskNumberStart32(0xFFFE);
  EXPECT_EQ(d.diskNumberStart, 0xFFFE);
  d.SetDiskNumberStart32(0xFFFF);
  EXPECT_EQ(d.diskNumberStart, 0xFFFF);
  EXPECT_EQ(d.DiskNumberStart32(), 0xFFFFu);
  EXPECT_TRUE(d.zip64.has_value());
}

TEST(TZipHeaderInfoTest, LocalAndCentralHeaderLayout) {
  TZipHeaderInfo h;
  h.flags = 1;
  h.dosDateTime = Dos(2013, 7, 15, 10, 20, 15);
  h.crc32 = 0x11223344;
  h.compressedSize = 26;
  h.uncompressedSize = 100;
  h.internalAttributes = 0;
  h.localHeaderOffset = 1234;
  h.SetDirectory("bak/q");
  h.SetFileName("a.xml");
  const auto local = h.LocalHeaderBytes();
  const std::string l(local.begin(), local.end());
  ASSERT_EQ(l.size(), 30u + 11u);
  EXPECT_EQ(ziptest::Get32(l, 0), zip::kLocalHeaderSig);
  EXPECT_EQ(ziptest::Get16(l, 4), 20);
  EXPECT_EQ(ziptest::Get16(l, 6), 1);
  EXPECT_EQ(ziptest::Get16(l, 8), 8);
  EXPECT_EQ(ziptest::Get32(l, 10), h.dosDateTime);
  EXPECT_EQ(ziptest::Get32(l, 14), 0x11223344u);
  EXPECT_EQ(ziptest::Get32(l, 18), 26u);
  EXPECT_EQ(ziptest::Get32(l, 22), 100u);
  EXPECT_EQ(ziptest::Get16(l, 26), 11);
  EXPECT_EQ(ziptest::Get16(l, 28), 0);
  EXPECT_EQ(l.substr(30), "bak/q/a.xml");

  const auto central = h.CentralHeaderBytes();
  const std::string c(central.begin(), central.end());
  ASSERT_EQ(c.size(), 46u + 11u);
  EXPECT_EQ(ziptest::Get32(c, 0), zip::kCentralHeaderSig);
  EXPECT_EQ(ziptest::Get16(c, 4), 45);
  EXPECT_EQ(ziptest::Get16(c, 6), 20);
  EXPECT_EQ(ziptest::Get32(c, 20), 26u);
  EXPECT_EQ(ziptest::Get16(c, 36), 0);
  EXPECT_EQ(ziptest::Get32(c, 38), 0x20u);
  EXPECT_EQ(ziptest::Get32(c, 42), 1234u);

  // A size beyond 32 bits: Zip64 block, version 45, both sizes in the local block.
  h.SetUncompressedSize64(0x123456789ull);
  const auto local64 = h.LocalHeaderBytes();
  const std::string l64(local64.begin(), local64.end());
  EXPECT_EQ(ziptest::Get16(l64, 4), 45);
  EXPECT_EQ(ziptest::Get32(l64, 18), 0xFFFFFFFFu);
  EXPECT_EQ(ziptest::Get32(l64, 22), 0xFFFFFFFFu);
  EXPECT_EQ(ziptest::Get16(l64, 28), 20);
  EXPECT_EQ(ziptest::Get16(l64, 41), 1);
  EXPECT_EQ(ziptest::Get16(l64, 43), 16);
  const auto central64 = h.CentralHeaderBytes();
  const std::string c64(central64.begin(), central64.end());
  EXPECT_EQ(ziptest::Get16(c64, 30), 12);  // uncompressed size only
  EXPECT_EQ(ziptest::Get32(c64, 20), 26u);
}

// --- TEndCentral ---

TEST(TEndCentralTest, EmptyArchiveIsTheBareEndRecord) {
  TEndCentral end;
  const auto bytes = end.Bytes(0);
  ASSERT_EQ(bytes.size(), 22u);
  const std::string s(bytes.begin(), bytes.end());
  EXPECT_EQ(ziptest::Get32(s, 0), zip::kEndCentralSig);
  EXPECT_EQ(s.substr(4), std::string(18, '\0'));
}

TEST(TEndCentralTest, CountsAboveTheLimitBringTheZip64Records) {
  TEndCentral end;
  end.SetTotalEntries64(65534);
  EXPECT_FALSE(end.zip64End.has_value());
  end.SetTotalEntries64(65535);
  end.SetEntriesThisDisk64(65535);
  end.SetCentralSize64(3000000);
  end.SetCentralOffset64(5000000);
  const auto bytes = end.Bytes(8000000);
  ASSERT_EQ(bytes.size(), 56u + 20u + 22u);
  const std::string s(bytes.begin(), bytes.end());
  EXPECT_EQ(ziptest::Get32(s, 0), zip::kZip64EndCentralSig);
  EXPECT_EQ(ziptest::Get32(s, 56), zip::kZip64LocatorSig);
  EXPECT_EQ(ziptest::Get32(s, 64), 8000000u);  // offset of the Zip64 record
  EXPECT_EQ(ziptest::Get32(s, 72), 1u);        // total disks
  EXPECT_EQ(ziptest::Get16(s, 76 + 8), 0xFFFF);
  EXPECT_EQ(ziptest::Get32(s, 76 + 12), 3000000u);

  TEndCentral back;
  ASSERT_TRUE(back.ParseRecord(bytes.data() + 76, 22));
  back.zip64End = TEndCentral::ParseZip64End(bytes.data(), 56);
  EXPECT_EQ(back.TotalEntries64(), 65535u);
  EXPECT_EQ(back.CentralOffset64(), 5000000u);
  EXPECT_FALSE(back.ParseRecord(bytes.data() + 76, 21));
}

// --- TSortedZip ---

std::unique_ptr<TZipHeaderInfo> At(std::uint64_t offset, std::uint32_t disk = 0) {
  auto e = std::make_unique<TZipHeaderInfo>();
  e->SetLocalHeaderOffset64(offset);
  e->SetDiskNumberStart32(disk);
  e->SetFileName("f" + std::to_string(offset));
  return e;
}

TEST(TSortedZipTest, OrdersByDiskThenLocalHeaderOffset) {
  std::vector<std::uint64_t> offsets = {5, 0x1FFFFFFFFull, 0, 77, 12, 0xFFFFFFFFull, 3};
  std::mt19937 rng(3);
  std::shuffle(offsets.begin(), offsets.end(), rng);
  TSortedZip list;
  for (auto o : offsets) list.Insert(At(o));
  list.Insert(At(1, 1));
  std::sort(offsets.begin(), offsets.end());
  ASSERT_EQ(list.Count(), offsets.size() + 1);
  for (std::size_t i = 0; i < offsets.size(); ++i) EXPECT_EQ(list[i].LocalHeaderOffset64(), offsets[i]);
  EXPECT_EQ(list[offsets.size()].DiskNumberStart32(), 1u);
  EXPECT_TRUE(list.HasZip64());
}

TEST(TSortedZipTest, AssignSortsOnceAndRefusesDuplicates) {
  std::vector<std::unique_ptr<TZipHeaderInfo>> many;
  for (std::uint64_t o = 20000; o-- > 0;) many.push_back(At(o * 46));  // reverse order
  TSortedZip list;
  list.Assign(std::move(many));
  ASSERT_EQ(list.Count(), 20000u);
  for (std::size_t i = 0; i < list.Count(); ++i) ASSERT_EQ(list[i].LocalHeaderOffset64(), i * 46);

  std::vector<std::unique_ptr<TZipHeaderInfo>> dup;
  dup.push_back(At(5));
  dup.push_back(At(9));
  dup.push_back(At(5));
  EXPECT_THROW(list.Assign(std::move(dup)), EListError);
  EXPECT_TRUE(list.Empty());
}

TEST(TSortedZipTest, DuplicatesAndBadIndexesAreListErrors) {
  TSortedZip list;
  list.Insert(At(10));
  list.Insert(At(20));
  try {
    list.Insert(At(10));
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Duplicate Object index");
  }
  EXPECT_EQ(list.Count(), 2u);
  for (long long bad : {-1LL, 2LL, 100LL}) {
    try {
      list.At(bad);
      FAIL();
    } catch (const EListError& e) {
      EXPECT_EQ(std::string(e.what()), "Index " + std::to_string(bad) + " is out of range");
    }
  }
}

// --- exceptions ---

TEST(ArchiveErrorsTest, MessagesAndCommonBase) {
  const std::pair<std::string, std::string> cases[] = {
      {EBadZipFile().what(), "Not a valid zip file!"},
      {EIncompleteZip().what(), "Incomplete Zip File"},
      {ENotAZipFile().what(), "Not a valid zip file!"},
      {EFatalUnzipError().what(), "Premature end of file reached"},
      {EUserCanceled().what(), "User Aborted Operation"},
      {EBiggerThanUncompressed().what(), "File is larger than uncompressed size!"},
      {ECantWriteUCF().what(), "Cant write uncompressed file"},
      {EZCompressionError().what(), "error"},
      {ENotEnoughRoom().what(), "Not enough room to write archive"},
      {MakeOpenError("/x/y.dmp", ENOENT).what(), "Cannot open file \"/x/y.dmp\". " + ziptest::NoSuchFileText()},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
  EXPECT_THROW(throw ECantWriteUCF(), EZipError);
  EXPECT_THROW(throw EFOpenError("x"), std::runtime_error);
}

// --- ByteReader ---

TEST(ByteReaderTest, ReadsLittleEndianAndFailsOnceAtTheEnd) {
  const std::uint8_t data[] = {0x50, 0x4B, 0x05, 0x06, 0x01, 0x02, 0x03};
  ByteReader r(data, sizeof data);
  EXPECT_EQ(r.U32(), zip::kEndCentralSig);
  EXPECT_EQ(r.U16(), 0x0201);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.U16(), 0);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.U8(), 0);
  EXPECT_EQ(r.Bytes(0), nullptr);
}

}  // namespace
