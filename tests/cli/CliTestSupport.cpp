#include "CliTestSupport.h"

#include <sstream>

#include "platform/JsonWriter.h"

CliRun::CliRun(DemoConfig config, int speed) : m_Speed(speed), m_Clock(speed), m_UseClock(m_Clock) {
  m_Temp = MakeTempDir("qor-cli-test-");
  m_LogPath = m_Temp + "/QorUpgradeLog.txt";
  config.parentFolder = m_Temp;
  m_Stage = std::make_unique<DemoSetup>(std::move(config));
  std::string error;
  m_Ready = !m_Temp.empty() && m_Stage->Start(&error);
}

CliRun::~CliRun() {
  m_Child.Kill();
  m_Stage.reset();
  RemoveTree(m_Temp);
}

std::vector<std::string> CliRun::TargetArgs(bool withImages) const {
  Endpoints e = m_Stage->GetEndpoints();
  std::vector<std::string> args;
  for (const std::string& a : e.discoveryAddresses) {
    args.push_back("--discovery-address");
    args.push_back(a);
  }
  args.insert(args.end(), {"--udp-port", std::to_string(e.udpPort), "--link-port", std::to_string(e.linkPort),
                           "--telnet-port", std::to_string(e.telnetPort), "--log", m_LogPath});
  if (withImages) args.insert(args.end(), {"--images", m_Stage->ImageFolder()});
  return args;
}

bool CliRun::Start(const std::vector<std::string>& args, const std::string& stdinText,
                   const std::map<std::string, std::string>& env) {
  std::vector<std::string> all = args;
  std::vector<std::string> target = TargetArgs(true);
  all.insert(all.end(), target.begin(), target.end());
  std::map<std::string, std::string> childEnv = Env();
  for (const auto& [name, value] : env) childEnv[name] = value;
  // colours follow the terminal, not the test's own environment
  if (!env.count("NO_COLOR")) childEnv["NO_COLOR"] = "";
  // and the language the test's expectations are written in, not the tester's
  if (!env.count("LANGUAGE")) childEnv["LANGUAGE"] = "en";
  return m_Child.Start(QOR_CLI_PATH, all, childEnv, stdinText);
}

std::map<std::string, std::string> CliRun::Env() const {
  std::map<std::string, std::string> env = {{"XDG_STATE_HOME", m_Temp + "/state"}};
  // check and upgrade take the faster clock only from the test variable, and only on loopback
  if (m_Speed != 1) env[kTestClockScaleVariable] = std::to_string(m_Speed);
  return env;
}

int CliRun::Finish(int timeoutMs) {
  int code = -1;
  if (!m_Child.Wait(timeoutMs, &code)) {
    m_Child.Kill();
    return -1;
  }
  return code;
}

std::string CliRun::Diagnostics() {
  std::ostringstream text;
  text << "--- stdout\n"
       << Out() << "--- stderr\n"
       << Err() << "--- log\n"
       << ReadTextFile(m_LogPath) << "--- emulator events\n";
  for (const qorsim::SimEvent& e : Sim().Events()) text << e.seq << " " << e.kind << " " << e.detail << "\n";
  return text.str();
}

std::string JsonField(const std::string& json, const std::string& key, size_t from) {
  std::string needle = "\"" + key + "\":";
  size_t at = json.find(needle, from);
  if (at == std::string::npos) return "<missing>";
  at += needle.size();
  if (at < json.size() && json[at] == '"') {
    std::string value;
    for (size_t i = at + 1; i < json.size() && json[i] != '"'; ++i) {
      if (json[i] == '\\' && i + 1 < json.size()) ++i;
      value += json[i];
    }
    return value;
  }
  size_t end = json.find_first_of(",}]", at);
  return json.substr(at, end - at);
}

std::vector<std::string> JsonModules(const std::string& json) {
  std::vector<std::string> modules;
  // module entries hold objects of their own (the image): read with a real parser, each entry
  // printed back the way the program prints it
  const JsonValue document = JsonValue::parse(json, nullptr, false);
  if (!document.is_object() || !document.contains("modules") || !document["modules"].is_array())
    return modules;
  for (const JsonValue& module : document["modules"]) modules.push_back(JsonDump(module));
  return modules;
}
