#pragma once

#include <string>
#include <vector>

// What to do next after a failure: one table for every failure the tool can report, read by both
// front ends (the terminal prints it under the table, the JSON carries it, the window shows it as
// the failed row's tooltip and in its end-of-run warning) and checked against the help guide's
// failure table by a test.
//
// Keys are the string-table ids of the failure texts (119 to 132, the Check's warnings 134, 135,
// 137, the row text 153) and, above 1000, the failures that have no string-table text of their own.

// Failures without a string-table id.
enum AdviceId : int {
  ADVICE_NVRAM_ERASE_FAILED = 1001,  // the router's NVRAM could not be erased (rows skipped)
  ADVICE_IMAGE_CHANGED = 1002,       // an image file changed between the Check and the Upgrade
  ADVICE_NO_INTERFACE = 1003,        // no router: no interface in the router's subnet (%1 "192.168.1.x")
  ADVICE_SEND_FAILED = 1004,         // no router: the discovery could not be sent (%1 UDP port)
  ADVICE_NO_ANSWER = 1005,           // no router: sent, nothing answered (%1 UDP port)
};

struct AdviceEntry {
  int id;
  // A stable name for programs that read the JSON ("router-result-timeout").
  const char* code;
  // The failure as the help guide's failure table names it (English).
  const char* message;
  // What to do next (English; translated on the way to the user). May hold %1 (see AdviceId).
  const char* advice;
};

// The whole table, in the order the help guide lists the failures.
const std::vector<AdviceEntry>& AdviceTable();
// The entry of id, or null when the id is no failure the table knows (103, a progress text).
const AdviceEntry* FindAdvice(int id);
// The advice for id in the user's language ("" for an id without one), %1 replaced by argument.
std::string AdviceText(int id, const std::string& argument = std::string());
// The same in English, for the log.
std::string EnglishAdviceText(int id, const std::string& argument = std::string());
// The stable name of id ("" when none).
std::string AdviceCode(int id);
