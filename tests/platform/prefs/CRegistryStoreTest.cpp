// The preferences store on Linux, against a throw-away configuration location: the promises of
// every platform's store (RegistryStoreContract.h), and what the INI file holds.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <fstream>

#include "platform/prefs/CRegistryStore.h"

class RegistryStoreContract : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }
    // The store as another program sees it.
    static QSettings Ini() {
        return QSettings(QSettings::IniFormat, QSettings::UserScope, "Vantrel", "Vantrel");
    }
    QTemporaryDir m_dir;
};

#include "platform/prefs/RegistryStoreContract.h"

namespace {

using RegistryStore = RegistryStoreContract;

TEST_F(RegistryStore, TheFirstWriteMakesTheIniFileAndWritesAreCutAt9999Characters) {
    const std::string ini = m_dir.path().toStdString() + "/Vantrel/Vantrel.ini";
    EXPECT_FALSE(std::ifstream(ini).good());
    ASSERT_TRUE(contract::Write("m_IPAddress", "127.0.0.1"));
    std::ifstream in(ini);
    const std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "[Software]\nVantrel\\m_IPAddress=127.0.0.1\n");

    ASSERT_TRUE(contract::Write("v", std::string(12000, 'b')));
    EXPECT_EQ(Ini().value("Software/Vantrel/v").toString().size(), 9999);
    // A cut never leaves half a UTF-8 character behind.
    ASSERT_TRUE(contract::Write("v", std::string(9998, 'c') + "\xC3\xA9"));
    EXPECT_EQ(Ini().value("Software/Vantrel/v").toString(), QString(9998, QLatin1Char('c')));
}

TEST_F(RegistryStore, OtherBytesAndOtherProgramsValuesReadBackAsText) {
    ASSERT_TRUE(contract::Write("v", "caf\xE9"));  // not UTF-8
    EXPECT_EQ(contract::Read("v"), "caf\xE9");
    Ini().setValue("Software/Vantrel/v", QString::fromUtf8("12\0"
                                                           "34",
                                                           5));
    EXPECT_EQ(contract::Read("v"), "12");
    Ini().setValue("Software/Vantrel/v", QByteArray("raw"));
    EXPECT_EQ(contract::Read("v"), "raw");
}

TEST_F(RegistryStore, AnUnwritableLocationFailsSilently) {
    // A regular file where a directory should be: not even root can create the store there.
    const std::string blocker = m_dir.path().toStdString() + "/not-a-directory";
    std::ofstream(blocker) << "x";
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(blocker + "/config"));
    EXPECT_FALSE(contract::Write("m_IPAddress", "127.0.0.1"));
    EXPECT_EQ(contract::Read("m_IPAddress"), "");
}

}  // namespace
