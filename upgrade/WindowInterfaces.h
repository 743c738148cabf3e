#pragma once

#include <cstdint>
#include <string>

// What the Check and Upgrade procedures need of "the window". Each front end implements these: the
// GUI on its UI thread (the worker waits for each call, as for a window message), the CLI as a live
// table on the terminal, tests as recording fakes. The procedures run on a worker thread and reach
// the window only through these.

// Row colours are COLORREF values, 0x00BBGGRR.
constexpr uint32_t kColourBlack = 0x00000000;
constexpr uint32_t kColourBlue = 0x00FF0000;  // red 0, green 0, blue 255
constexpr uint32_t kColourRed = 0x000000FF;   // red 255, green 0, blue 0

// Module list columns.
enum ModuleListColumn : int {
  COL_TYPE = 0,
  COL_CURRENT = 1,
  COL_UPGRADE = 2,
  COL_PERCENT = 3,
  COL_STATUS = 4
};

class IModuleList {
 public:
  virtual ~IModuleList() = default;
  virtual void DeleteAllItems() = 0;
  // Inserts an item whose first column is text; returns its index or -1.
  virtual int InsertItem(int index, const std::string& text) = 0;
  virtual bool DeleteItem(int index) = 0;
  virtual int GetItemCount() = 0;
  // Writes to an item that does not exist have no effect and return false.
  virtual bool SetItemText(int item, int column, const std::string& text) = 0;
  // The row's colour (the status text is drawn in it).
  virtual bool SetItemData(int item, uint32_t colour) = 0;
  // Pixel width of text in the list's font (the CLI counts characters).
  virtual int GetStringWidth(const std::string& text) = 0;
  virtual int GetColumnWidth(int column) = 0;
  // width -1 fits the contents, -2 fits the contents and the heading.
  virtual bool SetColumnWidth(int column, int width) = 0;
  virtual void SetRedraw(bool redraw) = 0;
  // The system colour of grey (disabled) text, for rows without image.
  virtual uint32_t GrayTextColour() = 0;
  // The text shown when the pointer rests on a row ("" for none): what to do after its failure.
  virtual void SetItemToolTip(int item, const std::string& text) {
    (void)item;
    (void)text;
  }
};

// Notification codes that workers post to the window.
enum NotifyCode : int {
  NOTIFY_UPGRADE_DONE = 0,
  NOTIFY_DISABLE_BUTTONS = 1,
  NOTIFY_START_CHECK = 2,
  NOTIFY_START_UPGRADE = 3,
  NOTIFY_FOCUS_CHECK = 4,
  NOTIFY_FOCUS_UPGRADE = 5,
};

class IDialogHost {
 public:
  virtual ~IDialogHost() = default;
  virtual void EnableCheckButton(bool enable) = 0;
  virtual void EnableUpgradeButton(bool enable) = 0;
  // Posted: returns at once; the window acts on it later on its own thread.
  virtual void PostNotify(int code) = 0;
  virtual void BringToForeground() = 0;
  // Repaints at once (after the list was emptied at the start of a Check).
  virtual void UpdateWindow() = 0;
  // Lays the controls out and fits the list's columns to their texts.
  virtual void LayoutControls() = 0;
  virtual bool IsLoopTest() = 0;
  // Loop-test timers: argument 1 posts NOTIFY_START_UPGRADE after 2 s, 0 posts NOTIFY_START_CHECK
  // after 35 s.
  virtual void StartLoopTimer(int argument) = 0;
  // What the Check is doing as each of its steps begins (the image scan, each discovery try, the
  // console, the wireless module's queries), in the user's language; "" when it has ended. A front
  // end that has no place for it keeps the default, which shows nothing.
  virtual void ShowCheckStep(const std::string& /*text*/) {}
};
