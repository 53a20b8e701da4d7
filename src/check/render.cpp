#include "check/render.h"

#include <cstdio>

namespace zrt::check {
namespace {

const char* Word(Severity severity) {
  switch (severity) {
    case Severity::Info:
      return "info";
    case Severity::Warning:
      return "warning";
    case Severity::Error:
      return "error";
  }
  return "";
}

// Trailing line breaks (of system message texts) left out.
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

class Text {
 public:
  explicit Text(const ToUtf8& utf8) : utf8_(utf8) {}

  // `utf8Tail` follows the text as it is, already in UTF-8.
  void Line(const std::string& indent, std::string_view text, const std::string& utf8Tail = "") {
    out_ += indent + utf8_(Trimmed(text)) + utf8Tail + "\n";
  }
  void Finding(const check::Finding& finding) {
    std::string subject = utf8_(finding.subject);
    if (subject.size() < 16) subject.resize(16, ' ');
    const std::string mark =
        finding.severity == Severity::Info ? "" : std::string(Word(finding.severity)) + ": ";
    out_ += "  " + subject + " " + mark + utf8_(Trimmed(finding.text)) + "\n";
  }
  std::string& Out() { return out_; }

 private:
  const ToUtf8& utf8_;
  std::string out_;
};

void RehearsalText(const Rehearsal& r, Text& text) {
  text.Line("", "Rehearsal on a copy of the machine ", r.machine + " (left untouched)");
  text.Line("  ", "job argument: " + r.argument);
  if (!r.ended.empty()) text.Line("  ", "the program " + r.ended);
  text.Line("  ", "activity log:");
  for (const std::string& line : r.log) text.Line("    ", line);
  text.Line("  ", "status document:");
  if (r.status.empty()) text.Line("    ", "(none)");
  for (const std::string& document : r.status) text.Line("    ", document);
  text.Line("  ", "commands run:");
  if (r.commands.empty()) text.Line("    ", "(none)");
  for (const RunCommand& command : r.commands) {
    text.Line("    ", "[" +
                          (command.trouble.empty() ? "exit " + command.exitCode : command.trouble) +
                          "] " + command.line);
  }
  text.Line("  ", "changes on the machine:");
  if (r.changes.empty()) text.Line("    ", "(none)");
  for (const Change& change : r.changes) {
    if (change.before.empty()) {
      text.Line("    ", change.what + ": added " + change.after);
    } else if (change.after.empty()) {
      text.Line("    ", change.what + ": removed " + change.before);
    } else {
      text.Line("    ", change.what + ": " + change.before + " -> " + change.after);
    }
  }
}

// JSON texts: quoted, with the characters JSON asks to escape.
std::string Json(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

class JsonWriter {
 public:
  explicit JsonWriter(const ToUtf8& utf8) : utf8_(utf8) {}

  std::string Text(std::string_view ansi) { return Json(utf8_(ansi)); }

  template <typename Items, typename Each>
  std::string List(const Items& items, Each each, const std::string& indent) {
    if (items.empty()) return "[]";
    std::string out = "[\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
      out += indent + "  " + each(items[i]) + (i + 1 < items.size() ? ",\n" : "\n");
    }
    return out + indent + "]";
  }

  std::string Findings(const std::vector<Finding>& findings, const std::string& indent) {
    return List(
        findings,
        [this](const Finding& f) {
          return "{\"severity\": " + Json(Word(f.severity)) + ", \"subject\": " + Text(f.subject) +
                 ", \"text\": " + Text(Trimmed(f.text)) + "}";
        },
        indent);
  }

  std::string Step(const StepReport& step) {
    const std::string in = "      ";
    return "{\n" + in + "\"step\": " + std::to_string(step.number) + ",\n" + in +
           "\"value\": " + Text(step.value) + ",\n" + in + "\"action\": " + Text(step.action) +
           ",\n" + in + "\"known_action\": " + (step.known ? "true" : "false") + ",\n" + in +
           "\"schemename\": " + Json(step.schemeNameAsWritten) + ",\n" + in +
           "\"findings\": " + Findings(step.findings, in) + ",\n" + in + "\"commands\": " +
           List(
               step.commands,
               [this](const PlannedCommand& c) {
                 return "{\"command_line\": " + Text(c.line) +
                        ", \"condition\": " + Text(c.condition) +
                        ", \"refused\": " + Text(c.refusal) + "}";
               },
               in) +
           "\n    }";
  }

  std::string Rehearsal(const check::Rehearsal& r) {
    const std::string in = "    ";
    const auto text = [this](const std::string& line) { return Text(line); };
    return "{\n" + in + "\"machine\": " + Json(r.machine) + ",\n" + in +
           "\"argument\": " + Text(r.argument) + ",\n" + in + "\"log\": " + List(r.log, text, in) +
           ",\n" + in + "\"status\": " + List(r.status, text, in) + ",\n" + in + "\"commands\": " +
           List(
               r.commands,
               [this](const RunCommand& c) {
                 return "{\"command_line\": " + Text(c.line) + ", \"exit_code\": " + c.exitCode +
                        (c.trouble.empty() ? "" : ", \"trouble\": " + Text(c.trouble)) + "}";
               },
               in) +
           ",\n" + in + "\"changes\": " +
           List(
               r.changes,
               [this](const Change& c) {
                 return "{\"what\": " + Text(c.what) + ", \"before\": " + Text(c.before) +
                        ", \"after\": " + Text(c.after) + "}";
               },
               in) +
           ",\n" + in + "\"outcome\": " + Text(r.outcome) +
           (r.ended.empty() ? "" : ",\n" + in + "\"ended\": " + Text(r.ended)) + "\n  }";
  }

 private:
  const ToUtf8& utf8_;
};

}  // namespace

std::string RenderText(const Report& report, const ToUtf8& utf8) {
  Text text(utf8);
  text.Line("", "Job document " + report.document +
                    (report.readable ? " (root element " + report.root + ")" : ""));
  for (const Finding& finding : report.findings) text.Finding(finding);
  for (const StepReport& step : report.steps) {
    text.Line("", "");
    const std::string heading = "Step " + std::to_string(step.number) +
                                (step.value.empty() ? "" : " (value " + step.value + ")") + ": ";
    if (step.known) {
      text.Line("", heading + step.action + " '", step.schemeNameAsWritten + "'");
    } else {
      text.Line("", heading + "skipped");
    }
    for (const Finding& finding : step.findings) text.Finding(finding);
    if (step.commands.empty()) continue;
    text.Line("  ", "Powercfg.exe command lines:");
    for (const PlannedCommand& command : step.commands) {
      text.Line("    ", command.line +
                            (command.condition.empty() ? "" : "   (" + command.condition + ")") +
                            (command.refusal.empty() ? "" : "   REFUSED: " + command.refusal));
    }
  }
  if (report.rehearsal) {
    text.Line("", "");
    RehearsalText(*report.rehearsal, text);
  }
  text.Line("", "");
  const auto counted = [&report](Severity severity, const char* what) {
    const int n = report.Count(severity);
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  text.Line("", counted(Severity::Error, "error") + ", " + counted(Severity::Warning, "warning") +
                    ": " +
                    (report.ExitCode() == 2   ? "the job would fail"
                     : report.ExitCode() == 1 ? "check the warnings"
                                              : "nothing is wrong"));
  return text.Out();
}

std::string RenderJson(const Report& report, const ToUtf8& utf8) {
  JsonWriter json(utf8);
  std::string out = "{\n  \"document\": " + json.Text(report.document) + ",\n";
  out += std::string("  \"readable\": ") + (report.readable ? "true" : "false") + ",\n";
  out += "  \"root\": " + json.Text(report.root) + ",\n";
  out += "  \"findings\": " + json.Findings(report.findings, "  ") + ",\n";
  out += "  \"steps\": " +
         json.List(
             report.steps, [&json](const StepReport& step) { return json.Step(step); }, "  ") +
         ",\n";
  if (report.rehearsal) out += "  \"rehearsal\": " + json.Rehearsal(*report.rehearsal) + ",\n";
  out += "  \"errors\": " + std::to_string(report.Count(Severity::Error)) + ",\n";
  out += "  \"warnings\": " + std::to_string(report.Count(Severity::Warning)) + ",\n";
  out += "  \"exit_code\": " + std::to_string(report.ExitCode()) + "\n}\n";
  return out;
}

}  // namespace zrt::check
