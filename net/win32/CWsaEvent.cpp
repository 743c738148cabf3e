#include "net/CWsaEvent.h"

#include <winsock2.h>

// WSACreateEvent makes a manual-reset event that starts clear, which is what the purge needs: it
// stays set until the Read that it ends resets it.
CWsaEvent::CWsaEvent() {
  WSAEVENT event = ::WSACreateEvent();
  m_Handle = event == WSA_INVALID_EVENT ? kNoHandle : event;
}

CWsaEvent::~CWsaEvent() {
  if (m_Handle != kNoHandle) ::WSACloseEvent(m_Handle);
}

bool CWsaEvent::Set() { return m_Handle != kNoHandle && ::WSASetEvent(m_Handle); }

bool CWsaEvent::Reset() { return m_Handle != kNoHandle && ::WSAResetEvent(m_Handle); }

bool CWsaEvent::IsSet() const {
  return m_Handle != kNoHandle && ::WaitForSingleObject(m_Handle, 0) == WAIT_OBJECT_0;
}
