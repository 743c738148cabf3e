#pragma once

#include <string>

// How the core shows a warning box (caption "Warning", one OK button). The front end installs a
// sink: the GUI shows a box owned by the main window and blocks the calling worker until the user
// closes it; the CLI prints "Warning: <text>" on stderr and goes on; tests record the texts.
// Without a sink the text goes to stderr in the CLI's form.
class IWarningSink {
 public:
  virtual ~IWarningSink() = default;
  // Called on whatever thread raised the warning. Returns the box's result (1 = OK).
  virtual int ShowWarning(const std::string& text) = 0;
};

// Installs the sink (nullptr restores the stderr default). Install before workers start; the sink
// must outlive its installation.
void SetWarningSink(IWarningSink* sink);

// Shows a ready-made text.
int ShowWarningText(const std::string& text);
// Shows the string-table text of id.
int ShowMessage(int stringId);

// Installs a sink for the lifetime of the object.
class ScopedWarningSink {
 public:
  explicit ScopedWarningSink(IWarningSink& sink);
  ~ScopedWarningSink();
  ScopedWarningSink(const ScopedWarningSink&) = delete;
  ScopedWarningSink& operator=(const ScopedWarningSink&) = delete;

 private:
  IWarningSink* m_Previous;
};
