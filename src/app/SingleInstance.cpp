#include "app/SingleInstance.h"

#include <unistd.h>

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace lv {

namespace {

// A hand-over is the number of paths, then each path's bytes; the running instance answers one
// byte once it has them all.
constexpr char Acknowledge = 'A';
constexpr quint32 MaxDocuments = 100000;

} // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance()
{
    if (m_server) m_server->close();
}

QString SingleInstance::socketPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!folder.startsWith(QLatin1Char('/')) || !QFileInfo(folder).isDir()) folder = QDir::tempPath();
    return folder + QStringLiteral("/lockvane-") + QString::number(::getuid()) + QStringLiteral(".socket");
}

bool SingleInstance::handOver(const std::vector<FolderItem>& documents, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs)) return false;
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out << quint32(documents.size());
        for (const FolderItem& item : documents) out << QByteArray::fromStdString(item.shellPath());
    }
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    char answer = 0;
    return socket.read(&answer, 1) == 1 && answer == Acknowledge;
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = socketPath();
    if (!m_server->listen(path)) {
        // A socket left by a program that crashed answers nobody: take its place.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500)) return false;
        QLocalServer::removeServer(path);
        if (!m_server->listen(path)) return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QDataStream in(socket);
            in.startTransaction();
            quint32 count = 0;
            in >> count;
            if (count > MaxDocuments) {
                socket->abort();
                return;
            }
            std::vector<FolderItem> documents;
            for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
                QByteArray path;
                in >> path;
                documents.emplace_back(std::filesystem::path(path.toStdString()));
            }
            if (!in.commitTransaction()) return;  // more to come
            socket->write(&Acknowledge, 1);
            socket->flush();
            emit documentsReceived(documents);
        });
    }
}

} // namespace lv
