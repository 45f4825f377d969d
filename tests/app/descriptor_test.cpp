// The product descriptor: defaults for a missing file or key, the INI rules
// it is read with, the shipped default file, display names.
#include "app_test_util.h"

#include "app/product_descriptor.h"

using namespace apptest;

namespace {

TEST(Descriptor, MissingFileAndKeysGiveDefaults) {
    TempDir dir;
    app::ProductDescriptor d = app::ProductDescriptor::load(dir / "qv.pd");
    EXPECT_EQ(d.tag, "Faroline");
    EXPECT_EQ(d.id, "");
    EXPECT_EQ(d.hideQR, 1);
    EXPECT_EQ(d.displayName(), "Lumacro3");
    EXPECT_EQ(app::readDescriptor(dir / "qv.pd", "web"), "");

    writeText(dir / "qv.pd", "[info]\nid=acme\n");
    d = app::ProductDescriptor::load(dir / "qv.pd");
    EXPECT_EQ(d.tag, "Faroline");
    EXPECT_EQ(d.id, "acme");
    EXPECT_EQ(d.hideQR, 1);
}

TEST(Descriptor, ReadsOnlySectionInfoWithIniRules) {
    TempDir dir;
    const std::string path = dir / "qv.pd";
    writeText(path,
              "\xEF\xBB\xBF; product file\r\n"
              "[other]\r\ntag=wrong\r\n"
              "[Info]\r\n"
              "TAG = Acme \r\n"
              "product=\"  Quoted Name  \"\r\n"
              "hideQR=0\r\n"
              "web=https://example.invalid/a?b=c;d\r\n"
              "tag=second line ignored\r\n"
              "comment=中文说明\r\n");
    EXPECT_EQ(app::readDescriptor(path, "tag"), "Acme");
    EXPECT_EQ(app::readDescriptor(path, "product"), "  Quoted Name  ");
    EXPECT_EQ(app::readDescriptor(path, "web"), "https://example.invalid/a?b=c;d");
    EXPECT_EQ(app::readDescriptor(path, "comment"), "中文说明");
    EXPECT_EQ(app::readDescriptorInt(path, "hideQR", 1), 0);
    EXPECT_EQ(app::readDescriptorInt(path, "web", 5), 5);
    EXPECT_EQ(app::readDescriptorInt(path, "absent", -3), -3);

    // Values longer than the readers ever took are cut, not overflowed.
    writeText(path, "[info]\nhelp=" + std::string(5000, 'x') + "\n");
    EXPECT_EQ(app::readDescriptor(path, "help").size(), 2047u);
}

TEST(Descriptor, ShippedDefaultFileIsComplete) {
    const std::string path = std::string(LUMACRO3_SOURCE_DIR) + "/data/qv.pd";
    app::ProductDescriptor d = app::ProductDescriptor::load(path);
    EXPECT_EQ(d.tag, "Faroline");
    EXPECT_EQ(d.hideQR, 1);
    EXPECT_EQ(d.displayName(), "Lumacro3");
    const std::string text = readText(path);
    for (const char* key : {"tag", "id", "product", "web", "help", "comment", "copyright", "update",
                            "androidUrl", "iosUrl", "apkUrl", "winUrl", "hideQR"})
        EXPECT_NE(text.find(std::string("\n") + key + "="), std::string::npos) << key;
}

TEST(Descriptor, DisplayNames) {
    EXPECT_EQ(app::productDisplayName("Lumacro3 Wireless Presentation System"), "Lumacro3");
    EXPECT_EQ(app::productDisplayName("faroline wireless classroom presenter"), "Faroline");
    EXPECT_EQ(app::productDisplayName("Something Else"), "Something Else");
    EXPECT_EQ(app::productDisplayName(""), "Lumacro3");
}

}  // namespace
