#pragma once
// One running program per user: the first start listens on a local socket; a later start hands
// the documents it was given to the running one and exits, so that opening three files from the
// file manager gives one window.
//
// The socket lies in $XDG_RUNTIME_DIR (the temporary folder without one), private to the user.
// Paths travel as their bytes, whatever the file names hold.

#include <QObject>
#include <QString>

#include <vector>

#include "platform/FolderItem.h"

class QLocalServer;

namespace lv {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket's path.
    static QString socketPath();

    // Hands `documents` to a running instance; true when one took them (the caller exits).
    static bool handOver(const std::vector<FolderItem>& documents, int timeoutMs = 5000);

    // Starts listening as the running instance; false when the socket can't be made (the
    // program then runs on, alone).
    bool listen();

signals:
    // Documents handed over by a later start, in the order given.
    void documentsReceived(const std::vector<lv::FolderItem>& documents);

private:
    void accept();

    QLocalServer* m_server = nullptr;
};

} // namespace lv
