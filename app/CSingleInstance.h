#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

// Keeps a second copy of the tool from running. The first copy holds a lock file and listens on a
// local socket next to it; a second copy finds the lock taken, asks the first one over the socket to
// restore its window if it is minimised, and ends.
//
// Both live in a private per-user directory. restoreRequested is emitted on the thread that owns
// this object (the UI thread), from its event loop.
class CSingleInstance : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kInstanceName = "87F8A3C7-65EF-4cf8-B947-0EC89C2774B3";
  // How long a second copy waits for the first to take its request, in real milliseconds.
  static constexpr int kRequestWaitMs = 2000;

  enum class Result { First, Other, Failed };

  explicit CSingleInstance(const QString& directory, const QString& name = QString::fromLatin1(kInstanceName),
                           QObject* parent = nullptr);
  ~CSingleInstance() override;

  // First: this copy holds the lock and listens. Other: another copy holds it and was asked to restore
  // its window. Failed: the lock could not be had (error says why).
  Result Acquire(QString* error = nullptr);
  bool IsFirst() const { return m_Server != nullptr; }

 signals:
  void restoreRequested();

 private:
  void OnNewConnection();

  QString m_LockPath;
  QString m_SocketPath;
  std::unique_ptr<QLockFile> m_Lock;
  QLocalServer* m_Server = nullptr;
};
