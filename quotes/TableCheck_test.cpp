#include "quotes/TableCheck.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/UiHost.h"
#include "quotes/QuoteRecords.h"
#include "tests/support/TestSupport.h"

namespace {

class BoxRecorder : public platform::UiHost {
  public:
    BoxRecorder() { platform::SetUiHost(this); }
    ~BoxRecorder() override { platform::SetUiHost(nullptr); }
    platform::BoxResult messageBox(const platform::MessageBoxRequest& request) override {
        boxes.push_back(request);
        return request.defaultResult;
    }
    std::vector<platform::MessageBoxRequest> boxes;
};

class SpecialRecordTest : public ::testing::Test {
  protected:
    // A table of the given kind holding the given record images.
    void MakeTable(QuoteTableId id, const std::vector<std::string>& images) {
        path_ = dir_.file(QuoteTable(id).fileName);
        table_ = std::make_unique<CDbf>(QuoteSchema(id));
        ASSERT_EQ(table_->OpenDB(path_), 0);
        std::string data;
        for (const std::string& image : images) {
            ASSERT_EQ(image.size(), QuoteTable(id).recordLength);
            data += image;
        }
        if (!images.empty()) {
            ASSERT_EQ(table_->AppendRecord(data.data(), static_cast<uint32_t>(images.size())), 0);
        }
    }

    platform::ScopedFakeClock clock_;
    testsupport::TempDir dir_;
    testsupport::CaptureAppender log_;
    std::string path_;
    std::unique_ptr<CDbf> table_;
};

std::string SnapshotImage(const char* code, bool special) {
    SnapshotRec_t r{};
    std::memcpy(r.HQZQDM, code, 6);
    std::memset(r.HQZQJC, ' ', 8);
    std::string image(kImageLength<SnapshotRec_t>, ' ');
    FormatRecord(r, special, image.data());
    return image;
}

std::string DeclarationImage(QuoteTableId id, const char* code, char status) {
    if (id == kNqxyxx) {
        NQXYXX_OrderRec_t r{};
        std::memset(&r, ' ', sizeof r);
        std::memcpy(r.XYZQDM, code, 6);
        r.XYJLZT = status;
        return FormatRecord(r);
    }
    NQFGKSBXX_OrderRec_t r{};
    std::memset(&r, ' ', sizeof r);
    std::memcpy(r.FGKZQDM, code, 6);
    r.FGKJLZT = status;
    return FormatRecord(r);
}

std::string TradeImage(int32_t number, const char* code) {
    NQFGKCJXX_TradeRec_t r{};
    std::memset(&r, ' ', sizeof r);
    r.FGKCJXH = number;
    std::memcpy(r.FGKZQDM, code, 6);
    return FormatRecord(r);
}

std::string SimpleImage(QuoteTableId id, const char* code) {
    std::string image(QuoteTable(id).recordLength, ' ');
    std::memcpy(&image[1], code, 6);
    return image;
}

TEST_F(SpecialRecordTest, RecordZeroDecidesWhetherTheFileIsOneOfOurTables) {
    struct Case {
        const char* what;
        QuoteTableId id;
        std::vector<std::string> images;
        int result;
    };
    const Case cases[] = {
        {"quotes with a special record",
         kNqhq,
         {SnapshotImage("000000", true), SnapshotImage("430001", false)},
         0},
        {"quotes starting with a security",
         kNqhq,
         {SnapshotImage("430001", false), SnapshotImage("000000", true)},
         -1},
        {"security information", kNqxx, {SimpleImage(kNqxx, "000000")}, 0},
        {"security information, code 000001", kNqxx, {SimpleImage(kNqxx, "000001")}, -1},
        {"market making", kNqzsxx, {SimpleImage(kNqzsxx, "000000")}, 0},
        {"declarations", kNqxyxx, {DeclarationImage(kNqxyxx, "000000", ' ')}, 0},
        {"declarations, special record marked active",
         kNqxyxx,
         {DeclarationImage(kNqxyxx, "000000", '1')},
         -1},
        {"declarations, special record marked withdrawn",
         kNqxyxx,
         {DeclarationImage(kNqxyxx, "000000", '0')},
         -1},
        {"non-public declarations", kNqfgksbxx, {DeclarationImage(kNqfgksbxx, "000000", ' ')}, 0},
        {"non-public declarations, status 1",
         kNqfgksbxx,
         {DeclarationImage(kNqfgksbxx, "000000", '1')},
         -1},
        // The trade table is checked on its second field: the first is the
        // trade number, 0 in the special record ("       0").
        {"trades", kNqfgkcjxx, {TradeImage(0, "000000"), TradeImage(1, "430001")}, 0},
        {"trades starting with a trade", kNqfgkcjxx, {TradeImage(1, "430001")}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MakeTable(c.id, c.images);
        log_.clear();
        EXPECT_EQ(CheckSpecialRecord(*table_, c.id), c.result);
        // A wrong special record is for the message box, not the log.
        EXPECT_EQ(log_.count("出错"), 0) << log_.dump();
        table_.reset();
        ASSERT_TRUE(platform::RemoveFile(path_));
    }
}

TEST_F(SpecialRecordTest, ReadFailuresAreLoggedUnderTheTableFamily) {
    // An empty table has no record 0: the read comes back short.
    MakeTable(kNqhq, {});
    EXPECT_EQ(CheckSpecialRecord(*table_, kNqhq), -1);
    EXPECT_EQ(log_.count("Read()字段长度出错！", "Quota", velk::LevelError), 1) << log_.dump();

    // A torn file (cut by another program while open): the code of record 0
    // reads, its status field does not.
    MakeTable(kNqxyxx, {DeclarationImage(kNqxyxx, "000000", ' ')});
    platform::File f;
    ASSERT_TRUE(f.open(path_));
    ASSERT_TRUE(f.setLength(table_->headerLength + 50));
    f.close();
    log_.clear();
    EXPECT_EQ(CheckSpecialRecord(*table_, kNqxyxx), -1);
    EXPECT_EQ(log_.count("Read()字段长度出错！", "DetailedQuota", velk::LevelError), 1)
        << log_.dump();

    MakeTable(kNqfgkcjxx, {TradeImage(0, "000000")});
    log_.clear();
    {
        platform::faults::ScopedFileFaults faults;
        faults.add({platform::FileOp::Read, 0, 1, platform::FileCause::Other, 5, "NQFGKCJXX"});
        EXPECT_EQ(CheckSpecialRecord(*table_, kNqfgkcjxx), -1);
    }
    EXPECT_EQ(log_.count("ReadField()出错！", "CJQuota", velk::LevelError), 1) << log_.dump();
    // The table class closed the file; the next check opens it again.
    log_.clear();
    EXPECT_EQ(CheckSpecialRecord(*table_, kNqfgkcjxx), 0);
    EXPECT_EQ(log_.count("出错"), 0);

    // A table number from nowhere is refused without touching the file.
    EXPECT_EQ(CheckSpecialRecord(*table_, static_cast<QuoteTableId>(6)), -1);
}

TEST_F(SpecialRecordTest, ErrorBoxNamesTheFile) {
    BoxRecorder ui;
    ShowSpecialRecordError("/data/NQHQ.DBF");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              " DBF 库 /data/NQHQ.DBF 特殊记录格式出错，特殊记录格式与规范不符！");
    EXPECT_EQ(ui.boxes[0].title, "错误");
    EXPECT_EQ(ui.boxes[0].icon, platform::BoxIcon::Error);
}

}  // namespace
