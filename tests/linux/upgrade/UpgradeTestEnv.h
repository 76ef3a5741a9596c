// What the upgrade dialog tests share: a private preferences store and trusted test CA for the
// process (inherited by the child processes of death tests), message recording, page building.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "linux/controls/MessageBox.h"

struct RecordedMessage {
    QString text;
    QString caption;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
};

// Answers every box through the hook and records it; restores the real box when it goes.
class MessageRecorder {
public:
    using Answer = std::function<QMessageBox::StandardButton(const RecordedMessage&)>;
    explicit MessageRecorder(Answer answer = {});
    ~MessageRecorder();
    const std::vector<RecordedMessage>& Messages() const { return m_messages; }

private:
    std::vector<RecordedMessage> m_messages;
    MessageHook m_previous;
};

// An upgrade page with the markers present only where a value is given.
struct PageParts {
    std::string version;
    std::string description;
    std::string link;
    std::string sha256;
};
std::string UpgradePage(const PageParts& parts);

std::string ReadUpgradeDate();
void WriteUpgradeDate(const std::string& text);
