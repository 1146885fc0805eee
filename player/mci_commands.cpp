#include "player/mci_commands.h"

#include <cstdio>
#include <sstream>
#include <vector>

namespace zov::player {

namespace {

std::vector<std::string> words(std::string_view command) {
  std::vector<std::string> out;
  std::istringstream in{std::string(command)};
  for (std::string w; in >> w;) {
    for (char& c : w) c = char(std::tolower(static_cast<unsigned char>(c)));
    out.push_back(w);
  }
  return out;
}

std::optional<long> number(const std::string& w) {
  if (w.empty() || w.size() > 10) return std::nullopt;
  size_t i = w[0] == '-' ? 1 : 0;
  if (i == w.size()) return std::nullopt;
  for (size_t k = i; k < w.size(); ++k)
    if (w[k] < '0' || w[k] > '9') return std::nullopt;
  return std::stol(w);
}

long playCommand(MovieDevice& d, const std::vector<std::string>& w) {
  PlayRequest r;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "window") {
      r.fullscreen = false;
    } else if (w[i] == "fullscreen") {
      r.fullscreen = true;
    } else if (w[i] == "reverse") {
      r.reverse = true;
    } else if (w[i] == "notify") {
      r.notify = true;
    } else if (w[i] == "wait") {
    } else if (w[i] == "from" || w[i] == "to") {
      if (i + 1 >= w.size()) return kMciBadParameter;
      auto n = number(w[i + 1]);
      if (!n) return kMciBadParameter;
      (w[i] == "from" ? r.from : r.to) = *n;
      ++i;
    } else {
      return kMciUnrecognized;
    }
  }
  const long first = d.start(), last = d.start() + d.length() - 1;
  if ((r.from && (*r.from < first || *r.from > last)) || (r.to && (*r.to < first || *r.to > last)))
    return kMciOutOfRange;
  return d.play(r) ? kMciOk : kMciOutOfRange;
}

long setCommand(MovieDevice& d, const std::vector<std::string>& w) {
  // set audio all on|off ; set speed N
  if (w.size() >= 4 && w[1] == "audio" && w[2] == "all" && (w[3] == "on" || w[3] == "off")) {
    d.setAudioEnabled(w[3] == "on");
    return kMciOk;
  }
  if (w.size() >= 3 && w[1] == "speed") {
    auto n = number(w[2]);
    if (!n || *n < 0) return kMciBadParameter;
    d.setSpeed(uint32_t(*n));
    return kMciOk;
  }
  return kMciUnrecognized;
}

long statusCommand(MovieDevice& d, const std::vector<std::string>& w, std::string* result) {
  if (w.size() < 2) return kMciBadParameter;
  std::string answer;
  if (w[1] == "position") {
    answer = std::to_string(d.position());
  } else if (w[1] == "length") {
    answer = std::to_string(d.length());
  } else if (w[1] == "start") {
    answer = std::to_string(d.start());
  } else if (w[1] == "speed") {
    answer = std::to_string(d.speed());
  } else if (w[1] == "mode") {
    switch (d.mode()) {
      case MovieMode::NotReady:
        answer = "not ready";
        break;
      case MovieMode::Stopped:
        answer = "stopped";
        break;
      case MovieMode::Playing:
        answer = "playing";
        break;
      case MovieMode::Paused:
        answer = "paused";
        break;
    }
  } else {
    return kMciUnrecognized;
  }
  if (result) *result = answer;
  return kMciOk;
}

}  // namespace

std::string commandWithNumbers(const char* format, long a, long b) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

long sendCommandString(MovieDevice& d, std::string_view command, std::string* result) {
  const auto w = words(command);
  if (w.empty()) return kMciUnrecognized;
  if (!d.isOpen()) return kMciNotOpen;
  const std::string& verb = w[0];
  if (verb == "play") return playCommand(d, w);
  if (verb == "stop") {
    d.stop();
    return kMciOk;
  }
  if (verb == "pause") {
    d.pause();
    return kMciOk;
  }
  if (verb == "set") return setCommand(d, w);
  if (verb == "status") return statusCommand(d, w, result);
  if (verb == "seek") {
    // seek to N | seek to start | seek to end
    if (w.size() < 3 || w[1] != "to") return kMciBadParameter;
    long target;
    if (w[2] == "start") {
      target = d.start();
    } else if (w[2] == "end") {
      target = d.start() + d.length() - 1;
    } else {
      auto n = number(w[2]);
      if (!n) return kMciBadParameter;
      target = *n;
    }
    if (target < d.start() || target >= d.start() + d.length()) return kMciOutOfRange;
    return d.seek(target) ? kMciOk : kMciOutOfRange;
  }
  if (verb == "step") {
    // step [by N] [reverse] [wait]
    long n = 1;
    bool reverse = false;
    for (size_t i = 1; i < w.size(); ++i) {
      if (w[i] == "by" && i + 1 < w.size()) {
        auto v = number(w[++i]);
        if (!v || *v < 0) return kMciBadParameter;
        n = *v;
      } else if (w[i] == "reverse") {
        reverse = true;
      } else if (w[i] != "wait") {
        return kMciUnrecognized;
      }
    }
    return d.step(reverse ? -n : n) ? kMciOk : kMciOutOfRange;
  }
  return kMciUnrecognized;
}

}  // namespace zov::player
