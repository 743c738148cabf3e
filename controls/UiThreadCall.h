#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <type_traits>

// Runs f on the thread of context and returns its result: at once when the caller is already on that
// thread, otherwise as a queued call that the caller waits for (the effect of a sent window message).
// The waiting caller is released when context is destroyed before the call ran; the result is then
// the value-initialised one. The thread of context must keep serving events while others wait.
template <class F>
auto CallOnThreadOf(QObject* context, F&& f) -> std::invoke_result_t<F&> {
  using R = std::invoke_result_t<F&>;
  if (QThread::currentThread() == context->thread()) return f();
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(
        context, [&f]() { f(); }, Qt::BlockingQueuedConnection);
  } else {
    R result{};
    QMetaObject::invokeMethod(
        context, [&f, &result]() { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}
