// Heap blocks handed to the hub: contents, and text cut to the block's limit at
// a character boundary.
#include "dispatch_fixture.h"

#include "support/strings.h"

#include <filesystem>

namespace dispatch_test {
namespace {

namespace fs = std::filesystem;
using ::testing::DoAll;
using ::testing::SaveArg;

const std::string kEmoji = "\xF0\x9F\x98\x80";  // 4 UTF-8 bytes, 2 UTF-16 units

class BlockTest : public DispatchTest {
protected:
    BlockTest() : dir(fs::temp_directory_path() / ("dispatch_" + std::to_string(::getpid()))) {
        fs::create_directories(dir);
    }
    ~BlockTest() override { fs::remove_all(dir); }

    void dispatchValue(const char* className, const Json::Value& message) {
        EXPECT_TRUE(ui::dispatchMessage(nullptr, className, &context, message, 0, 7));
    }
    void openUrl(const std::string& url) {
        Json::Value m;
        m[field::resType] = 2;
        m[field::url] = url;
        dispatchValue(msg::MsgOpenURL, m);
    }
    // The block of the only record, which must be `um` with a T.
    template <typename T>
    std::unique_ptr<T> only(uint32_t um) {
        EXPECT_EQ(hub.size(), 1u);
        auto record = hub.take(um);
        if (!record || !record->blockAs<T>())
            return nullptr;
        EXPECT_EQ(record->wParam, um == core::UM_BRUSH ? 5 : 0);
        EXPECT_EQ(record->lParam, 0);
        return std::unique_ptr<T>(static_cast<T*>(record->block.release()));
    }
    std::string onlyText(uint32_t um) {
        auto block = only<core::TextBlock>(um);
        return block ? block->text : "<no text block>";
    }

    fs::path dir;
};

TEST_F(BlockTest, SeekAndMediaFileBlocksKeep64BitValuesAndCutTheName) {
    dispatch(msg::MsgMediaPlay, R"({"action":4,"position":123456789012345})");
    auto seek = only<core::PositionBlock>(core::UM_MEDIA_SEEK);
    ASSERT_TRUE(seek);
    EXPECT_EQ(seek->position, 123456789012345LL);

    Json::Value m;
    m[field::action] = 0;
    m[field::fileName] = std::string(254, 'a') + kEmoji + "b";
    m[field::fileSize] = Json::Int64(5000000000LL);
    dispatchValue(msg::MsgMediaPlayer, m);
    auto file = only<core::MediaFileBlock>(core::UM_MEDIA_OPEN);
    ASSERT_TRUE(file);
    // The surrogate pair would need units 255 and 256: the whole character goes.
    EXPECT_EQ(file->name, std::string(254, 'a'));
    EXPECT_EQ(file->size, 5000000000LL);
}

TEST_F(BlockTest, PlayUrlTextIsCutTo2047Units) {
    openUrl(std::string(2045, 'x') + kEmoji);  // exactly 2047 units
    EXPECT_EQ(onlyText(core::UM_PLAY_URL), std::string(2045, 'x') + kEmoji);
    openUrl(std::string(2046, 'x') + kEmoji);
    EXPECT_EQ(onlyText(core::UM_PLAY_URL), std::string(2046, 'x'));
    openUrl(std::string(5000, 'y'));
    EXPECT_EQ(onlyText(core::UM_PLAY_URL), std::string(2047, 'y'));
}

TEST_F(BlockTest, ScreenshotIsSavedUnderSnapshotAndInsertedOnlyByThatVariant) {
    context.docDir = [this] { return dir.string(); };
    std::string saved;
    EXPECT_CALL(screenshot, saveJpeg(_))
        .WillOnce(DoAll(SaveArg<0>(&saved), Return(true)))
        .WillOnce(DoAll(SaveArg<0>(&saved), Return(true)))
        .WillOnce(Return(false));

    dispatch(msg::MsgScreenshot);
    EXPECT_EQ(hub.size(), 0u);
    EXPECT_EQ(saved.rfind(dir.string() + "/Snapshot/", 0), 0u) << saved;
    EXPECT_TRUE(saved.ends_with(".jpg"));
    EXPECT_TRUE(fs::is_directory(dir / "Snapshot"));

    context.screenshotsToDrawingBoard = true;
    dispatch(msg::MsgScreenshot);
    EXPECT_EQ(onlyText(core::UM_PAINTER), saved);
    dispatch(msg::MsgScreenshot);  // not saved: nothing to insert
    EXPECT_EQ(hub.size(), 0u);
}

TEST_F(BlockTest, ScreenshotPathIsCutTo511Units) {
    context.screenshotsToDrawingBoard = true;
    const fs::path deep = dir / std::string(200, 'd') / std::string(200, 'e') / (std::string(99, 'f') + kEmoji);
    context.docDir = [deep] { return deep.string(); };
    std::string saved;
    EXPECT_CALL(screenshot, saveJpeg(_)).WillOnce(DoAll(SaveArg<0>(&saved), Return(true)));
    dispatch(msg::MsgScreenshot);
    const std::string text = onlyText(core::UM_PAINTER);
    ASSERT_GT(support::utf16Length(saved), 511u);
    EXPECT_GE(support::utf16Length(text), 510u);
    EXPECT_LE(support::utf16Length(text), 511u);
    EXPECT_EQ(saved.rfind(text, 0), 0u);
}

TEST_F(BlockTest, StrokeBlockCarriesRadiusAndPoints) {
    dispatch(msg::MsgBrush, R"({"action":4,"pointRadius":2.5,"pointList":[1.5,2,-3,4]})");
    auto stroke = only<core::StrokeBlock>(core::UM_BRUSH);
    ASSERT_TRUE(stroke);
    EXPECT_DOUBLE_EQ(stroke->pointRadius, 2.5);
    EXPECT_EQ(stroke->points, (std::vector<double>{1.5, 2, -3, 4}));
}

TEST_F(BlockTest, BlackScreenOperationRunsLaterWithTheAction) {
    std::vector<std::pair<int64_t, int64_t>> calls;
    context.blackScreen = [&](int64_t a, int64_t b) { calls.emplace_back(a, b); };
    dispatch(msg::MsgScreen, R"({"action":1})");
    EXPECT_TRUE(calls.empty());  // not on the receive thread
    auto run = only<core::RunOnUiBlock>(core::UM_RUN_ON_UI);
    ASSERT_TRUE(run && run->callable);
    run->callable(run->first, run->second);
    EXPECT_EQ(calls, (std::vector<std::pair<int64_t, int64_t>>{{1, 0}}));

    // Without the black-out feature the callable only logs.
    context.blackScreen = nullptr;
    LogCapture log;
    dispatch(msg::MsgScreen, R"({"action":0})");
    run = only<core::RunOnUiBlock>(core::UM_RUN_ON_UI);
    ASSERT_TRUE(run && run->callable);
    run->callable(0, 0);
    EXPECT_THAT(log.text(), ::testing::HasSubstr("black screen not available"));
}

TEST_F(BlockTest, LastRecordingIsPlayedOnlyWhenItIsAReadableFile) {
    const fs::path file = dir / "lesson.mp4";
    std::ofstream(file) << "x";
    for (const fs::path& path : {dir, dir / "gone.mp4", fs::path()}) {
        settings.setString(core::setting::SET, "lastfile", path.string());
        dispatch(msg::MsgMediaRecord, R"({"action":4})");
    }
    EXPECT_EQ(hub.size(), 0u);
    settings.setString(core::setting::SET, "lastfile", file.string());
    dispatch(msg::MsgMediaRecord, R"({"action":4})");
    EXPECT_EQ(onlyText(core::UM_PLAY_URL), file.string());
}

}  // namespace
}  // namespace dispatch_test
