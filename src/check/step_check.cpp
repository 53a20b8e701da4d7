#include "check/step_check.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "app/step_dispatch.h"
#include "platform/ascii_case.h"
#include "platform/code_page_text.h"
#include "platform/text_conversion.h"
#include "power/settings_walk.h"

namespace zrt::check {
namespace {

using jobdoc::Field;
using jobdoc::PowerRequest;

const char* Name(Field field) { return jobdoc::FieldOf(field).name; }

using power::SchemeStep;
using power::SettingChoice;

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Edits (insertions, deletions, substitutions, swaps of neighbours) that
// turn one text into the other, ignoring case.
std::size_t Distance(std::string_view a, std::string_view b) {
  std::string x(a), y(b);
  for (std::string* s : {&x, &y}) std::transform(s->begin(), s->end(), s->begin(), AsciiLower);
  std::vector<std::vector<std::size_t>> d(x.size() + 1, std::vector<std::size_t>(y.size() + 1));
  for (std::size_t i = 0; i <= x.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= y.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= x.size(); ++i) {
    for (std::size_t j = 1; j <= y.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[x.size()][y.size()];
}

// The candidate `name` is a near miss of: at most two edits, and fewer
// than a third of its length.
template <typename Names>
std::string NearMiss(std::string_view name, const Names& candidates) {
  std::string best;
  std::size_t bestDistance = 3;
  for (const auto& candidate : candidates) {
    const std::size_t distance = Distance(name, candidate);
    if (distance < bestDistance && distance * 3 < std::string_view(candidate).size()) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

const char* const kNumbers[] = {"no", "one", "two", "three", "four", "five", "six", "seven"};

// Where a capability's group runs.
std::string ConditionOf(const char* capability) {
  if (capability == nullptr) return {};
  return std::string("on machines with ") + (std::string_view(capability) == "ProcessorThrottle"
                                                 ? "processor throttling"
                                                 : "batteries");
}

class StepCheck : public power::SettingsVisitor {
 public:
  StepCheck(port::System& system, const PowerRequest& request, StepReport& report)
      : system_(system), request_(request), report_(report) {
    read_.insert(Field::action);  // every step's action is read to dispatch it
  }

  // The fields of a Create Scheme step, which reads every field an
  // operation reads.
  static std::set<Field> FieldsAnOperationReads(port::System& system) {
    const PowerRequest empty;
    StepReport ignored;
    StepCheck check(system, empty, ignored);
    check.Update(power::kCreationRules, true);
    return check.read_;
  }

  void Delete() {
    SchemeName();
    Note(Field::schemename, "the scheme is removed; the step fails if it is the active scheme");
  }

  void Update(const power::OperationRules& rules, bool creation) {
    const bool overwrite = power::OverwriteAsked(system_, request_);
    SchemeName(creation || overwrite);
    const std::string_view text = Value(Field::overwriteifexst);
    if (creation) {
      if (overwrite) {
        Note(Field::overwriteifexst, "'1': an existing scheme of this name is modified instead");
      } else {
        Add(text.empty() || text == "0" ? Severity::Info : Severity::Warning,
            Field::overwriteifexst,
            Unmatched(text, "not '1'", "an existing scheme is left unchanged"));
      }
      Description(overwrite ? "; a scheme that exists keeps its own" : "");
    } else if (overwrite) {
      Note(Field::overwriteifexst, "'1': the scheme is changed, or created when it is missing");
      Description("; only a scheme that is missing and created takes it");
    } else {
      Warn(
          Field::overwriteifexst,
          Unmatched(text, "not '1'", "the step changes nothing, whether the scheme exists or not"));
      stopped_ = true;
      return;
    }
    power::TakeSchemeSteps([&](SchemeStep step) { return Tell(step, rules), true; });
  }

  // One step of writing the scheme, told from the fields it reads.
  void Tell(SchemeStep step, const power::OperationRules& rules) {
    switch (step) {
      case SchemeStep::DiskAndMonitorTimeouts:
        return Timeouts(power::TimeoutGroup::DiskAndMonitor, {});
      case SchemeStep::Standby:
        return Timeouts(power::TimeoutGroup::Standby, "where the machine allows standby");
      case SchemeStep::Hibernation:
        return Hibernation(rules);
      case SchemeStep::ButtonActions:
        return Buttons(rules);
      case SchemeStep::ActiveScheme:
        return ActiveScheme();
      case SchemeStep::MachineSettings:
        return static_cast<void>(power::WalkEveryMachineSetting(system_, request_, *this));
      case SchemeStep::WriteScheme:
      case SchemeStep::WriteGlobalPolicy:
        return;  // they read no field
    }
  }

  // Element fields the step's operation does not read.
  void Unread(const std::vector<jobdoc::StepElement>& elements, std::string_view action,
              const std::set<Field>& readByAnOperation) {
    std::set<Field> told;
    for (const jobdoc::StepElement& element : elements) {
      if (element.field == nullptr || read_.count(element.field->id) != 0 ||
          !told.insert(element.field->id).second) {
        continue;
      }
      const Field field = element.field->id;
      if (readByAnOperation.count(field) == 0) {
        Note(field, "not read by any operation");
      } else if (stopped_) {
        Warn(field, "ignored: the step changes nothing (overwriteifexst)");
      } else {
        Warn(field, "not read by " + std::string(action) + ": ignored");
      }
    }
  }

  // SettingsVisitor: the rows of the throttles, alarms and flags.

  bool Row(const SettingChoice& choice) override {
    read_.insert(choice.field);
    const std::string condition = ConditionOf(choice.capability);
    switch (choice.test) {
      case power::ValueTest::Inserted:
        Level(choice, condition);
        break;
      case power::ValueTest::One:
        Switch(choice);
        break;
      case power::ValueTest::YesNo:
      case power::ValueTest::Codes:
        if (choice.matched) {
          Note(choice.field, Quoted(choice.value) + ": " +
                                 (choice.command != nullptr ? choice.command->word : "Do Nothing"));
        } else {
          Add(choice.value.empty() ? Severity::Info : Severity::Warning, choice.field,
              Unmatched(choice.value,
                        choice.test == power::ValueTest::YesNo
                            ? std::string("neither Yes nor No")
                            : "not " + std::string(choice.accepts),
                        "nothing runs, the setting is left alone"));
        }
        break;
    }
    if (choice.command != nullptr) {
      Command(*choice.command, choice.inserted, condition);
      RefusedIfSo(choice.field, condition);
    }
    return true;
  }

  void Passed(Field field, power::PassedBecause because, Field decidingField) override {
    read_.insert(field);
    if (because == power::PassedBecause::AlarmOff) ++passedBy_[Name(decidingField)];
    if (Value(field).empty()) return;
    Warn(field,
         Quoted(Value(field)) + " is ignored: " +
             (because == power::PassedBecause::AlarmOff
                  ? std::string(Name(decidingField)) + " is not '1', the alarm is switched off"
                  : "the forced action follows only an action command (" +
                        std::string(Name(decidingField)) + " 3, 4 or 5)"));
  }

  // The alarm switches' findings name how many fields each left unread.
  void TellSwitchedOffAlarms() {
    for (Finding& finding : report_.findings) {
      const auto passed = passedBy_.find(finding.subject);
      if (passed == passedBy_.end() || finding.text.find("switched off") == std::string::npos) {
        continue;
      }
      finding.text += " and the " +
                      std::string(kNumbers[std::min<std::size_t>(passed->second, 7)]) +
                      " other fields of the alarm are ignored";
    }
  }

 private:
  std::string_view Value(Field field) {
    read_.insert(field);
    return request_.Read(field);
  }

  // A value its test does not know: "'yes' is not '1': outcome", or
  // "not given: outcome".
  static std::string Unmatched(std::string_view value, const std::string& isNot,
                               const std::string& outcome) {
    if (value.empty()) return "not given: " + outcome;
    // "0" is what a document writes for "not '1'".
    if (value == "0" && isNot == "not '1'") return "'0': " + outcome;
    return Quoted(value) + " is " + isNot + ": " + outcome;
  }

  void Add(Severity severity, Field subject, std::string text) {
    report_.findings.push_back({severity, Name(subject), std::move(text)});
  }
  void Note(Field subject, std::string text) { Add(Severity::Info, subject, std::move(text)); }
  void Warn(Field subject, std::string text) { Add(Severity::Warning, subject, std::move(text)); }

  void Command(const power::PowercfgCommand& command, std::string_view inserted,
               const std::string& condition) {
    const power::BuiltCommand built =
        power::BuildPowercfgCommand(command, inserted, LeadBytesOf(system_));
    // The program's refusal texts open with "Refused: "; the report keeps
    // only why.
    std::string why = built.refusal != nullptr ? built.refusal : "";
    const std::size_t colon = why.find(": ");
    if (colon != std::string::npos) why.erase(0, colon + 2);
    report_.commands.push_back({built.line, condition, why});
  }

  // A refused value fails the step, told at the field that chose it: an
  // error when every machine refuses it, a warning when only machines where
  // `condition` holds do (which this one is, is unknown here).
  void Refused(Field field, const std::string& condition, const std::string& everywhere,
               const std::string& there) {
    if (condition.empty()) {
      Add(Severity::Error, field, everywhere);
    } else {
      Warn(field, there);
    }
  }

  void RefusedIfSo(Field field, const std::string& condition) {
    const PlannedCommand& last = report_.commands.back();
    if (last.refusal.empty()) return;
    const std::string tail = " (" + last.refusal + "): " + last.line;
    Refused(field, condition, "the command line is refused" + tail,
            "the command line is refused " + condition + tail);
  }

  // `creates`: the step creates a scheme of the name when it is missing.
  void SchemeName(bool creates = false) {
    const std::string_view name = Value(Field::schemename);
    report_.schemeName = std::string(name);
    const std::string problem = power::ValueFitProblem(request_, Field::schemename, "scheme name");
    if (!problem.empty()) {
      Add(Severity::Error, Field::schemename, problem + " The step fails.");
    } else if (const char* blank = creates ? power::NewSchemeNameProblem(name) : nullptr) {
      Add(Severity::Error, Field::schemename,
          std::string(blank) + " The step fails where no scheme of that name exists.");
    } else if (name.empty()) {
      Warn(Field::schemename, "not given: the step works on a scheme with an empty name");
    } else {
      Note(Field::schemename, Quoted(name));
    }
  }

  void Description(const std::string& when) {
    const std::string_view text = Value(Field::schemeDesc);
    if (request_.Fit(Field::schemeDesc) == jobdoc::ValueFit::TooLong) {
      Warn(Field::schemeDesc,
           LongerThanBytes(request_.schemeDesc.kMaxLength) + ": stored cut at a whole character");
    } else if (request_.Fit(Field::schemeDesc) == jobdoc::ValueFit::Lossy) {
      Warn(Field::schemeDesc, "holds characters outside the machine's code page: stored changed");
    } else if (!text.empty()) {
      Note(Field::schemeDesc, Quoted(text) + when);
    }
  }

  void Timeout(const power::TimeoutSetting& timeout, const std::string& where) {
    const std::string_view text = Value(timeout.field);
    const std::string problem = power::ValueFitProblem(
        request_, timeout.field, std::string("time-out ") + Name(timeout.field));
    if (!problem.empty()) {
      Add(Severity::Error, timeout.field, problem + " The step fails.");
      return;
    }
    const std::uint32_t value = power::TimeoutValue(text);
    const std::string reads = value == 0 ? "0 (never)" : std::to_string(value) + " seconds";
    const std::string condition = where.empty() ? "" : ", " + where;
    const std::string digits(text.substr(std::min(text.find_first_not_of('0'), text.size())));
    if (text.empty()) {
      Warn(timeout.field, "not given: " + std::string(timeout.label) + " " + reads + condition);
    } else if (std::to_string(value) == (digits.empty() ? "0" : digits)) {
      Note(timeout.field, Quoted(text) + ": " + timeout.label + " " + reads + condition);
    } else {
      Warn(timeout.field,
           Quoted(text) + " is read as " + reads + " for " + timeout.label + condition);
    }
  }

  void Timeouts(power::TimeoutGroup group, const std::string& where) {
    for (const power::TimeoutSetting& timeout : power::TimeoutSettings()) {
      if (timeout.group == group) Timeout(timeout, where);
    }
  }

  void Hibernation(const power::OperationRules& rules) {
    const std::string_view hibsupp = Value(Field::hibsupp);
    const power::HibernationPlan allowed = power::PlanHibernation(system_, hibsupp, 1, rules);
    const power::HibernationPlan refused = power::PlanHibernation(system_, hibsupp, 0, rules);
    if (!allowed.applies) {
      Add(hibsupp.empty() ? Severity::Info : Severity::Warning, Field::hibsupp,
          Unmatched(hibsupp, "neither 0 nor 1", "hibernation and its time-outs are left alone"));
      for (const power::TimeoutSetting& timeout : power::TimeoutSettings()) {
        if (timeout.group != power::TimeoutGroup::Hibernation) continue;
        if (!Value(timeout.field).empty()) {
          Warn(timeout.field, Quoted(Value(timeout.field)) + " is ignored: hibsupp is not 0 or 1");
        }
      }
      return;
    }
    Note(Field::hibsupp,
         Quoted(hibsupp) + (allowed.wanted ? ": hibernation on" : ": hibernation off"));
    for (const power::HibernationPlan& plan : {allowed, refused}) {
      if (!plan.Switches()) continue;
      Command(power::HibernationCommand(plan.wanted), {},
              plan.allowed ? "where hibernation is allowed now"
                           : "where hibernation is not allowed now");
    }
    Timeouts(power::TimeoutGroup::Hibernation, {});
  }

  void Buttons(const power::OperationRules& rules) {
    for (const power::ButtonSetting& button : power::ButtonSettings()) {
      const std::string_view code = Value(button.field);
      const std::string where =
          std::string(" (") + button.label + ", where " + button.capability + ")";
      if (const power::ButtonAction* action = power::ButtonActionFor(system_, code)) {
        Note(button.field, Quoted(code) + ": " + power::ButtonWord(rules, button, *action) + where);
      } else {
        Add(code.empty() ? Severity::Info : Severity::Warning, button.field,
            Unmatched(code, "not 1 to 5", "left as it is" + where));
      }
    }
  }

  void ActiveScheme() {
    const std::string_view text = Value(Field::actpowesch);
    if (power::ActiveSchemeAsked(system_, request_)) {
      Note(Field::actpowesch, "'1': the scheme becomes the active one");
      Command(power::SetActiveCommand(), request_.schemename.view(), {});
      RefusedIfSo(Field::actpowesch, {});
    } else {
      Add(text.empty() || text == "0" ? Severity::Info : Severity::Warning, Field::actpowesch,
          Unmatched(text, "not '1'", "the scheme is not made active"));
    }
  }

  void Level(const SettingChoice& choice, const std::string& condition) {
    const std::string problem =
        power::ValueFitProblem(request_, choice.field, choice.command->label);
    if (!problem.empty()) {
      Refused(choice.field, condition, problem + " The step fails.",
              problem + " Refused " + condition + ": the step fails there.");
    } else if (choice.value.empty()) {
      Warn(choice.field, "not given: the level command runs without a level");
    } else {
      Note(choice.field, Quoted(choice.value) + ": the alarm's level");
    }
  }

  void Switch(const SettingChoice& choice) {
    const std::string word = choice.command->word;
    if (choice.matched) {
      Note(choice.field, Quoted(choice.value) + ": " + word);
    } else {
      const bool alarm =
          std::string_view(choice.command->label).find("Alarm Active") != std::string_view::npos;
      // Switching an alarm off unasked is worth a warning; other switches
      // are off unless asked.
      const bool quiet = choice.value == "0" || (choice.value.empty() && !alarm);
      Add(quiet ? Severity::Info : Severity::Warning, choice.field,
          Unmatched(choice.value, "not '1'", alarm ? "the alarm is switched off" : "off"));
    }
  }

 private:
  port::System& system_;
  const PowerRequest& request_;
  StepReport& report_;
  std::set<Field> read_;
  std::map<std::string, std::size_t> passedBy_;
  bool stopped_ = false;
};

}  // namespace

StepReport CheckStep(port::System& system, int number, const PowerRequest& request,
                     const std::vector<jobdoc::StepElement>& elements) {
  StepReport report;
  report.number = number;
  report.value = request.value.str();
  report.action = request.action.str();

  for (const jobdoc::StepElement& element : elements) {
    if (element.field != nullptr) continue;
    if (element.nameLossy) {
      report.findings.push_back({Severity::Warning, element.name,
                                 "a name with characters outside the code page: ignored"});
      continue;
    }
    std::vector<std::string> names;
    for (const auto& field : jobdoc::PowerRequestFields()) names.push_back(field.name);
    names.erase(names.begin());  // "value" is an attribute
    const std::string near = NearMiss(element.name, names);
    report.findings.push_back(
        {Severity::Warning, element.name,
         near.empty() ? "not a field of a step: ignored"
                      : "not a field of a step: ignored (did you mean " + near + "?)"});
  }

  const app::Operation* operation = app::FindOperation(system, report.action);
  if (operation == nullptr) {
    const char* const actions[] = {"Create Scheme", "Modify Scheme", "Delete Scheme"};
    const std::string near = NearMiss(report.action, actions);
    report.findings.push_back(
        {Severity::Warning, "action",
         (report.action.empty() ? std::string("not given")
                                : Quoted(report.action) + " is not a known action") +
             ": the step is skipped" + (near.empty() ? "" : " (did you mean " + near + "?)")});
    return report;
  }
  report.known = true;
  report.findings.push_back({Severity::Info, "action", operation->action});
  for (const jobdoc::StepElement& element : elements) {
    // Later elements of the same name win, as in the request.
    if (element.field == &jobdoc::FieldOf(Field::schemename)) {
      report.schemeNameAsWritten = WideToUtf8(element.value);
    }
  }

  StepCheck check(system, request, report);
  const std::string_view verb = operation->verb;
  if (verb == "Delete") {
    check.Delete();
  } else {
    check.Update(verb == "Create" ? power::kCreationRules : power::kModificationRules,
                 verb == "Create");
  }
  check.TellSwitchedOffAlarms();
  check.Unread(elements, operation->action, StepCheck::FieldsAnOperationReads(system));
  return report;
}

}  // namespace zrt::check
