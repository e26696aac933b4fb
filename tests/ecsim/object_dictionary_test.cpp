#include "ecsim/object_dictionary.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ecsim {
namespace {

std::vector<uint8_t> bytes(std::initializer_list<uint8_t> b) {
    return b;
}

TEST(ObjectDictionary, NumericDownloadsKeepTheLowBytesOfAnyLengthUpToFour) {
    ObjectDictionary od;
    od.addU8(0x2000, 1, 0);
    od.addU16(0x2000, 2, 0);
    od.addU32(0x2000, 3, 0xFFFFFFFF);
    od.addI16(0x2000, 4, 0);

    EXPECT_EQ(od.download(0x2000, 1, bytes({0x34, 0x12, 0, 0})), abort_code::None);
    EXPECT_EQ(od.getInt(0x2000, 1), 0x34);
    EXPECT_EQ(od.download(0x2000, 2, bytes({0x34, 0x12, 0x99, 0x88})), abort_code::None);
    EXPECT_EQ(od.getInt(0x2000, 2), 0x1234);
    EXPECT_EQ(od.download(0x2000, 3, bytes({0x07})), abort_code::None);
    EXPECT_EQ(od.getInt(0x2000, 3), 7) << "a short value is zero-extended";
    EXPECT_EQ(od.download(0x2000, 4, bytes({0xFE, 0xFF, 0xFF, 0xFF})), abort_code::None);
    EXPECT_EQ(od.getInt(0x2000, 4), -2);

    std::vector<uint8_t> out;
    EXPECT_EQ(od.upload(0x2000, 2, out), abort_code::None);
    EXPECT_EQ(out, bytes({0x34, 0x12})) << "uploads keep the type's width";

    EXPECT_EQ(od.download(0x2000, 3, {}), abort_code::LengthTooLow);
    EXPECT_EQ(od.download(0x2000, 3, bytes({1, 2, 3, 4, 5})), abort_code::LengthTooHigh);
    EXPECT_EQ(od.getInt(0x2000, 3), 7) << "a refused download changes nothing";
}

TEST(ObjectDictionary, AccessRightsAndMissingEntriesGiveTheirAbortCodes) {
    ObjectDictionary od;
    od.addU32(0x1018, 1, 0x0ABC, Access::ReadOnly);
    od.addU32(0x2001, 0, 0, Access::WriteOnly);
    std::vector<uint8_t> out;

    EXPECT_EQ(od.download(0x1018, 1, bytes({1, 0, 0, 0})), abort_code::ReadOnly);
    EXPECT_EQ(od.getInt(0x1018, 1), 0x0ABC);
    EXPECT_EQ(od.upload(0x2001, 0, out), abort_code::WriteOnly);
    EXPECT_EQ(od.download(0x2001, 0, bytes({5, 0, 0, 0})), abort_code::None);
    EXPECT_EQ(od.upload(0x1018, 9, out), abort_code::SubindexMissing);
    EXPECT_EQ(od.download(0x1018, 9, bytes({1})), abort_code::SubindexMissing);
    EXPECT_EQ(od.upload(0x3000, 0, out), abort_code::ObjectMissing);
    EXPECT_TRUE(od.hasObject(0x1018));
    EXPECT_FALSE(od.hasObject(0x1019));
}

TEST(ObjectDictionary, BooleanOutsideZeroOrOneIsOutOfRange) {
    ObjectDictionary od;
    Entry flag;
    flag.type = DataType::Boolean;
    flag.value = {0};
    od.add(0x2002, 0, flag);
    EXPECT_EQ(od.download(0x2002, 0, bytes({2, 0, 0, 0})), abort_code::ValueRange);
    EXPECT_EQ(od.download(0x2002, 0, bytes({1, 0, 0, 0})), abort_code::None);
    EXPECT_EQ(od.getInt(0x2002, 0), 1);
}

TEST(ObjectDictionary, StringsTakeAnyLengthUpToTheirLimit) {
    ObjectDictionary od;
    od.addString(0xF581, 0, "", Access::ReadWrite, 64);
    od.addString(0x1008, 0, "Torvanelix ZR12", Access::ReadWrite);  // limit = its own size

    EXPECT_EQ(od.download(0xF581, 0, std::vector<uint8_t>(64, 'a')), abort_code::None);
    EXPECT_EQ(od.getString(0xF581, 0), std::string(64, 'a'));
    EXPECT_EQ(od.download(0xF581, 0, std::vector<uint8_t>(65, 'b')), abort_code::LengthTooHigh);
    EXPECT_EQ(od.getString(0xF581, 0), std::string(64, 'a'));
    EXPECT_EQ(od.download(0xF581, 0, bytes({'h', 'i'})), abort_code::None);
    EXPECT_EQ(od.getString(0xF581, 0), "hi");
    EXPECT_EQ(od.download(0x1008, 0, std::vector<uint8_t>(16, 'x')), abort_code::LengthTooHigh);

    od.setString(0x1008, 0, "Torvanelix ZR02");
    std::vector<uint8_t> out;
    EXPECT_EQ(od.upload(0x1008, 0, out), abort_code::None);
    EXPECT_EQ(std::string(out.begin(), out.end()), "Torvanelix ZR02");
}

TEST(ObjectDictionary, HooksSeeNormalisedValuesAndDecideTheOutcome) {
    ObjectDictionary od;
    std::vector<uint8_t> seen;
    Entry mode;
    mode.type = DataType::Integer8;
    mode.value = {0};
    mode.onDownload = [&](std::span<const uint8_t> d) {
        seen.assign(d.begin(), d.end());
        return d[0] == 0x65 ? abort_code::None : abort_code::ValueRange;
    };
    od.add(0x6060, 0, mode);
    Entry counter;
    counter.type = DataType::Unsigned16;
    counter.onUpload = [](std::vector<uint8_t>& d) {
        d = {0x2A, 0x00};
        return abort_code::None;
    };
    od.add(0x2003, 0, counter);
    Entry broken;
    broken.onDownload = [](std::span<const uint8_t>) -> uint32_t {
        throw std::runtime_error("device model fault");
    };
    od.add(0x2004, 0, broken);

    EXPECT_EQ(od.download(0x6060, 0, bytes({0x65, 0, 0, 0})), abort_code::None);
    EXPECT_EQ(seen, bytes({0x65}));
    EXPECT_EQ(od.download(0x6060, 0, bytes({0x07, 0, 0, 0})), abort_code::ValueRange);
    std::vector<uint8_t> out;
    EXPECT_EQ(od.upload(0x2003, 0, out), abort_code::None);
    EXPECT_EQ(out, bytes({0x2A, 0x00}));
    EXPECT_EQ(od.download(0x2004, 0, bytes({1, 0, 0, 0})), abort_code::GeneralError);
}

class CompleteAccess : public ::testing::Test {
  protected:
    void SetUp() override {
        od.addU8(0x1600, 0, 2);
        od.addU32(0x1600, 1, 0x60400010);
        od.addU32(0x1600, 2, 0x607A0020);
        od.addU16(0x1018, 0, 0);  // not a count
    }
    ObjectDictionary od;
};

TEST_F(CompleteAccess, UploadStartsWithSubindexZeroAsSixteenBits) {
    std::vector<uint8_t> out;
    ASSERT_EQ(od.uploadComplete(0x1600, 0, out), abort_code::None);
    EXPECT_EQ(out, bytes({2, 0, 0x10, 0x00, 0x40, 0x60, 0x20, 0x00, 0x7A, 0x60}));
    ASSERT_EQ(od.uploadComplete(0x1600, 1, out), abort_code::None);
    EXPECT_EQ(out, bytes({0x10, 0x00, 0x40, 0x60, 0x20, 0x00, 0x7A, 0x60}));
    EXPECT_EQ(od.uploadComplete(0x1600, 2, out), abort_code::SubindexMissing);
    EXPECT_EQ(od.uploadComplete(0x1018, 0, out), abort_code::CompleteAccess);
    EXPECT_EQ(od.uploadComplete(0x1700, 0, out), abort_code::ObjectMissing);
}

TEST_F(CompleteAccess, DownloadWritesTheCountAndEveryEntryOrNothing) {
    ASSERT_EQ(od.downloadComplete(0x1600, 0, bytes({1, 0, 0x10, 0x00, 0x41, 0x60})),
              abort_code::None);
    EXPECT_EQ(od.getInt(0x1600, 0), 1);
    EXPECT_EQ(od.getInt(0x1600, 1), 0x60410010);

    EXPECT_EQ(od.downloadComplete(0x1600, 0, bytes({2, 0, 1, 2, 3, 4, 5})),
              abort_code::LengthTooLow);
    EXPECT_EQ(od.downloadComplete(0x1600, 1, bytes({1, 2, 3, 4, 5})), abort_code::LengthTooHigh);
    od.find(0x1600, 2)->access = Access::ReadOnly;
    EXPECT_EQ(od.downloadComplete(0x1600, 0, bytes({2, 0, 1, 2, 3, 4, 5, 6, 7, 8})),
              abort_code::ReadOnly);
    EXPECT_EQ(od.getInt(0x1600, 0), 1) << "a refused complete download changes nothing";
    EXPECT_EQ(od.getInt(0x1600, 1), 0x60410010);
}

TEST(PdoObjects, DescribeSyncManagersAssignmentsAndMappings) {
    ObjectDictionary od;
    const PdoDesc out[] = {{0x1600, {{0x6040, 0, 16}, {0x607A, 0, 32}}},
                           {0x1601, {{0x6840, 0, 16}}}};
    const PdoDesc in[] = {{0x1A00, {{0x6041, 0, 16}, {0x6064, 0, 32}}}};
    addPdoObjects(od, out, in);

    EXPECT_EQ(od.getInt(0x1C00, 0), 4);
    for (uint8_t sm = 1; sm <= 4; ++sm) EXPECT_EQ(od.getInt(0x1C00, sm), sm);
    EXPECT_EQ(od.getInt(0x1C12, 0), 2);
    EXPECT_EQ(od.getInt(0x1C12, 1), 0x1600);
    EXPECT_EQ(od.getInt(0x1C12, 2), 0x1601);
    EXPECT_EQ(od.getInt(0x1C13, 0), 1);
    EXPECT_EQ(od.getInt(0x1C13, 1), 0x1A00);
    EXPECT_EQ(od.getInt(0x1600, 0), 2);
    EXPECT_EQ(od.getInt(0x1600, 2), 0x607A0020);
    EXPECT_EQ(od.getInt(0x1601, 1), 0x68400010);
    EXPECT_EQ(od.getInt(0x1A00, 1), 0x60410010);
    std::vector<uint8_t> v;
    EXPECT_EQ(od.upload(0x1C12, 1, v), abort_code::None);
    EXPECT_EQ(v.size(), 2u) << "assignments are UNSIGNED16";
}

}  // namespace
}  // namespace ecsim
