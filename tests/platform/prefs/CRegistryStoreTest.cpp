// The preferences store against a throw-away configuration location.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <fstream>

#include "platform/prefs/CRegistryStore.h"

namespace {

class RegistryStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        UseLocation(m_dir.path().toStdString());
    }
    static void UseLocation(const std::string& path) {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(path));
    }
    std::string IniPath() const { return m_dir.path().toStdString() + "/Vantrel/Vantrel.ini"; }
    static bool Write(const std::string& name, const std::string& data) {
        return CRegistryStore().WriteValue("Vantrel", name, data, HKEY_CURRENT_USER);
    }
    static std::string Read(const std::string& name) {
        return CRegistryStore().ReadValue("Vantrel", name, HKEY_CURRENT_USER, "Software");
    }
    // Puts a value into the store behind the accessor's back, as another program might.
    void Plant(const std::string& name, const QVariant& value) {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Vantrel", "Vantrel");
        settings.setValue(QString::fromStdString("Software/Vantrel/" + name), value);
    }

    QTemporaryDir m_dir;
};

TEST_F(RegistryStoreTest, MissingKeyOrValueReadsEmptyAndFirstWriteCreatesTheKey) {
    EXPECT_EQ(Read("m_IPAddress"), "");
    EXPECT_FALSE(std::ifstream(IniPath()).good());

    EXPECT_TRUE(Write("m_IPAddress", "127.0.0.1"));
    EXPECT_EQ(Read("m_IPAddress"), "127.0.0.1");
    EXPECT_EQ(Read("UpgradeDate"), "");
    // The read takes its parent key from the caller.
    EXPECT_EQ(CRegistryStore().ReadValue("Vantrel", "m_IPAddress", HKEY_CURRENT_USER, "Elsewhere"),
              "");

    std::ifstream ini(IniPath());
    const std::string content((std::istreambuf_iterator<char>(ini)),
                              std::istreambuf_iterator<char>());
    EXPECT_NE(content.find("[Software]"), std::string::npos) << content;
    EXPECT_NE(content.find("Vantrel\\m_IPAddress=127.0.0.1"), std::string::npos) << content;
}

TEST_F(RegistryStoreTest, OverwriteKeepsOneValueAndOtherValuesStay) {
    ASSERT_TRUE(Write("UpgradeDate", "7 4 2006"));
    ASSERT_TRUE(Write("m_IPAddress", "0.0.0.0"));
    ASSERT_TRUE(Write("m_IPAddress", "::1"));
    EXPECT_EQ(Read("m_IPAddress"), "::1");
    EXPECT_EQ(Read("UpgradeDate"), "7 4 2006");

    QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Vantrel", "Vantrel");
    settings.beginGroup("Software/Vantrel");
    EXPECT_EQ(settings.childKeys().size(), 2);
}

TEST_F(RegistryStoreTest, HyphenAndEmptyValuesReadAsNotSet) {
    ASSERT_TRUE(Write("m_IPAddress", "-"));
    EXPECT_EQ(Read("m_IPAddress"), "");
    ASSERT_TRUE(Write("m_IPAddress", ""));
    EXPECT_EQ(Read("m_IPAddress"), "");
    ASSERT_TRUE(Write("m_IPAddress", "--"));
    EXPECT_EQ(Read("m_IPAddress"), "--");
    ASSERT_TRUE(Write("m_IPAddress", "7"));
    EXPECT_EQ(Read("m_IPAddress"), "7");
}

TEST_F(RegistryStoreTest, ReadLimitIs999AndWriteLimitIs9999) {
    ASSERT_TRUE(Write("v", std::string(999, 'a')));
    EXPECT_EQ(Read("v"), std::string(999, 'a'));
    ASSERT_TRUE(Write("v", std::string(1000, 'a')));
    EXPECT_EQ(Read("v"), "");

    ASSERT_TRUE(Write("v", std::string(12000, 'b')));
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Vantrel", "Vantrel");
    EXPECT_EQ(settings.value("Software/Vantrel/v").toString().size(), 9999);

    // A cut never leaves half a UTF-8 character behind.
    ASSERT_TRUE(Write("v", std::string(9998, 'c') + "\xC3\xA9"));
    EXPECT_EQ(QSettings(QSettings::IniFormat, QSettings::UserScope, "Vantrel", "Vantrel")
                  .value("Software/Vantrel/v")
                  .toString(),
              QString(9998, QLatin1Char('c')));
}

TEST_F(RegistryStoreTest, BytesSurviveAndTextEndsAtTheFirstNul) {
    const std::string utf8 = "\xC3\xA9t\xC3\xA9";
    ASSERT_TRUE(Write("v", utf8));
    EXPECT_EQ(Read("v"), utf8);
    const std::string latin1 = "caf\xE9";
    ASSERT_TRUE(Write("v", latin1));
    EXPECT_EQ(Read("v"), latin1);

    ASSERT_TRUE(Write("v", std::string("ab\0cd", 5)));
    EXPECT_EQ(Read("v"), "ab");
    Plant("v", QString::fromUtf8("12\0"
                                 "34",
                                 5));
    EXPECT_EQ(Read("v"), "12");
    Plant("v", QByteArray("raw"));
    EXPECT_EQ(Read("v"), "raw");
}

TEST_F(RegistryStoreTest, UnwritableLocationFailsSilently) {
    // A regular file where a directory should be: not even root can create the store there.
    const std::string blocker = m_dir.path().toStdString() + "/not-a-directory";
    std::ofstream(blocker) << "x";
    UseLocation(blocker + "/config");
    EXPECT_FALSE(Write("m_IPAddress", "127.0.0.1"));
    EXPECT_EQ(Read("m_IPAddress"), "");
}

}  // namespace

// The promises every platform's store keeps, against the same throw-away location.
class RegistryStoreContract : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }
    QTemporaryDir m_dir;
};

#include "platform/prefs/RegistryStoreContract.h"
