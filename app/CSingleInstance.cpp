#include "app/CSingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {
constexpr char kRestoreRequest[] = "restore\n";
}

CSingleInstance::CSingleInstance(const QString& directory, const QString& name, QObject* parent)
    : QObject(parent),
      m_LockPath(directory + QLatin1Char('/') + name + QStringLiteral(".lock")),
      m_SocketPath(directory + QLatin1Char('/') + name + QStringLiteral(".sock")) {}

CSingleInstance::~CSingleInstance() {
  if (m_Server != nullptr) m_Server->close();
  // the lock file goes with m_Lock
}

CSingleInstance::Result CSingleInstance::Acquire(QString* error) {
  m_Lock = std::make_unique<QLockFile>(m_LockPath);
  // a lock left by a copy that died is taken over (QLockFile checks the process it names)
  if (m_Lock->tryLock(0)) {
    QLocalServer::removeServer(m_SocketPath);
    m_Server = new QLocalServer(this);
    m_Server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_Server->listen(m_SocketPath)) {
      // the lock alone still keeps a second copy out; it just cannot ask for the window
      if (error != nullptr) *error = m_Server->errorString();
    } else {
      connect(m_Server, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
    }
    return Result::First;
  }
  const QLockFile::LockError why = m_Lock->error();
  m_Lock.reset();
  if (why != QLockFile::LockFailedError) {
    if (error != nullptr) *error = tr("cannot create the lock file %1").arg(m_LockPath);
    return Result::Failed;
  }
  QLocalSocket socket;
  socket.connectToServer(m_SocketPath);
  if (socket.waitForConnected(kRequestWaitMs)) {
    socket.write(kRestoreRequest);
    socket.waitForBytesWritten(kRequestWaitMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kRequestWaitMs);
  }
  return Result::Other;
}

void CSingleInstance::OnNewConnection() {
  while (QLocalSocket* socket = m_Server->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket]() {
      while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(64);
        if (line == kRestoreRequest) emit restoreRequested();
      }
      // a peer that sends more than a request line is not one of ours
      if (socket->bytesAvailable() > 64) socket->abort();
    });
  }
}
