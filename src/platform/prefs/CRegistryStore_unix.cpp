// The preferences store on QSettings (INI format, the current user's scope).
#include "platform/prefs/CRegistryStore.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <algorithm>

#include "platform/prefs/RegistryValues.h"

// The key is a QSettings; the header names it only by this class, so it needs no Qt.
class CRegistryStore::CKey : public QSettings {
public:
    using QSettings::QSettings;
};

namespace {
const char* const kOrganization = "Vantrel";
const char* const kApplication = "Vantrel";

std::unique_ptr<CRegistryStore::CKey> OpenRoot(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::CurrentUser:
            return std::make_unique<CRegistryStore::CKey>(
                QSettings::IniFormat, QSettings::UserScope, kOrganization, kApplication);
    }
    return nullptr;
}

QString KeyPath(const std::string& key, const std::string& value) {
    return QString::fromStdString(key) + QLatin1Char('/') + QString::fromStdString(value);
}

// Bytes go in as text when they are valid UTF-8, so the file stays readable; anything else as
// raw bytes, so nothing is lost.
QVariant ToStored(const std::string& bytes) {
    const QByteArray raw = QByteArray::fromStdString(bytes);
    const QString text = QString::fromUtf8(raw);
    if (text.toUtf8() == raw) return text;
    return raw;
}

// Whatever the value holds is taken as text; its type is not examined.
QByteArray FromStored(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray) return value.toByteArray();
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(',')).toUtf8();
    return value.toString().toUtf8();
}
}  // namespace

RegistryRoot CurrentUserRoot() {
    return RegistryRoot::CurrentUser;
}

CRegistryStore::CRegistryStore() = default;
CRegistryStore::~CRegistryStore() = default;

bool CRegistryStore::WriteValue(const std::string& productKey, const std::string& valueName,
                                const std::string& data, RegistryRoot root) {
    const std::string productPath = "Software/" + productKey;
    const std::string text = TextToStore(data);

    m_hKey = OpenRoot(root);
    if (!m_hKey || m_hKey->status() != QSettings::NoError) {
        m_hKey.reset();
        return false;
    }
    m_hKey->beginGroup(QString::fromStdString(productPath));
    m_dwDisposition = m_hKey->childKeys().isEmpty() && m_hKey->childGroups().isEmpty()
                          ? kCreatedNewKey
                          : kOpenedExistingKey;
    m_hKey->setValue(QString::fromStdString(valueName), ToStored(text));
    m_hKey->endGroup();
    m_hKey->sync();
    const bool stored = m_hKey->status() == QSettings::NoError;
    m_hKey.reset();
    return stored;
}

std::string CRegistryStore::ReadValue(const std::string& productKey, const std::string& valueName,
                                      RegistryRoot root, const std::string& parentKey) {
    m_hKey = OpenRoot(root);
    if (!m_hKey) return {};
    const QString path = KeyPath(parentKey + "/" + productKey, valueName);
    const bool readable = m_hKey->status() == QSettings::NoError && m_hKey->contains(path);
    const QByteArray stored = readable ? FromStored(m_hKey->value(path)) : QByteArray();
    m_hKey.reset();
    if (!readable) return {};

    return TextReadBack(stored.toStdString());
}
