#!/usr/bin/env python3
"""Runs one black-box scenario against the Linux program on a simulated
machine or against the Windows program under Wine, and compares what the run
left behind with the scenario's expectations.

    run_scenario.py --target linux --build-dir build/linux CASE.json
    run_scenario.py --target wine  --build-dir build/win32 CASE.json

Exit code: 0 passed, 1 failed (or the scenario is malformed), 77 skipped
(the target is not available: program not built, Wine missing, ...).

The scenario format is described in tests/scenarios/README.md; the targets
that set it up and run it are tests/harness/target.py.
Python standard library only.
"""

import argparse
import codecs
import difflib
import json
import pathlib
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from harness.target import (  # noqa: E402
    ENDINGS, EXIT_FAIL, EXIT_PASS, EXIT_SKIP, PROGRAMS, Lit, Pattern, ScenarioError, Skip,
    load_preludes, make_target, parse_log, undo_text_mode)

TOP_LEVEL_KEYS = {
    "description", "targets", "machine", "machine_settings", "registry", "files",
    "post_library", "power", "processes", "wine", "job", "argument", "vars", "expect",
    "program", "runs", "code_pages",
}
EXPECT_KEYS = {"log", "posts", "fallback", "schemes", "commands", "power", "ends"}
LOG_KEYS = {"location", "header", "records", "end_line"}
# A status file opens with this declaration, then holds the document.
XML_DECLARATION = re.compile(rb'<\?xml version="1\.0" encoding="([^"]+)"\?>\n')
# The names of the multi-byte code pages as Windows readers take them (expat
# reads only single-byte encodings itself: it is then given the characters).
WINDOWS_CODECS = {"shift_jis": "cp932", "gbk": "cp936", "ks_c_5601-1987": "cp949",
                  "big5": "cp950", "windows-874": "cp874"}


# --------------------------------------------------------------------------
# Scenario file


def load_scenario(path, preludes=None):
    try:
        with open(path, encoding="utf-8") as f:
            scenario = json.load(f)
    except (OSError, ValueError) as e:
        raise ScenarioError(f"cannot read {path}: {e}")
    if not isinstance(scenario, dict):
        raise ScenarioError("a scenario is a JSON object")
    preludes = preludes or load_preludes()
    scenario = shared_values(scenario, preludes.get("values", {}))
    scenario.setdefault("machine", preludes["machine"])
    unknown = set(scenario) - TOP_LEVEL_KEYS
    if unknown:
        raise ScenarioError(f"unknown members: {sorted(unknown)}")
    if "expect" not in scenario:
        raise ScenarioError("missing member 'expect'")
    expect = scenario["expect"]
    unknown = set(expect) - EXPECT_KEYS
    if unknown:
        raise ScenarioError(f"unknown members of expect: {sorted(unknown)}")
    if "log" not in expect:
        raise ScenarioError("expect.log is required")
    if expect.get("ends", "exit 0") not in ENDINGS:
        raise ScenarioError(f"expect.ends is one of {sorted(ENDINGS)}")
    if scenario.get("program", "short-post-bound") not in PROGRAMS:
        raise ScenarioError(f"program is one of {sorted(PROGRAMS)}")
    runs = scenario.get("runs", 1)
    if not isinstance(runs, int) or isinstance(runs, bool) or runs < 1:
        raise ScenarioError("runs is a number of runs, at least 1")
    unknown = set(expect["log"]) - LOG_KEYS
    if unknown:
        raise ScenarioError(f"unknown members of expect.log: {sorted(unknown)}")
    return scenario


def shared_values(value, values, where="", depth=0):
    """`value` with every text "@name" replaced by the shared value of that
    name in preludes.json; the log's records name record runs instead."""
    if isinstance(value, str) and value.startswith("@"):
        if value[1:] not in values or depth > 5:
            raise ScenarioError(f"{where or 'scenario'}: no shared value {value!r}")
        return shared_values(values[value[1:]], values, where, depth + 1)
    if isinstance(value, list):
        return [shared_values(v, values, f"{where}[{k}]", depth) for k, v in enumerate(value)]
    if isinstance(value, dict):
        return {k: v if f"{where}.{k}" == ".expect.log.records"
                else shared_values(v, values, f"{where}.{k}", depth) for k, v in value.items()}
    return value


def code_page_runs(scenario):
    """(code page, scenario) for each run: a scenario with a `code_pages`
    table runs once per code page, on a machine of that ANSI code page, with
    that row's texts for every ${name} the row gives (job, power, argument,
    expectations alike) and as vars."""
    table = scenario.get("code_pages")
    if table is None:
        return [(None, scenario)]
    runs = []
    for code_page, row in table.items():
        one = fill_row({k: v for k, v in scenario.items() if k != "code_pages"}, row)
        settings = dict(one.get("machine_settings", {}))
        settings["code_pages"] = dict(settings.get("code_pages", {}), ansi=int(code_page))
        one["machine_settings"] = settings
        one["vars"] = dict(one.get("vars", {}), **row)
        runs.append((code_page, one))
    return runs


def fill_row(value, row):
    if isinstance(value, str):
        return re.sub(r"\$\{(\w+)\}", lambda m: row.get(m.group(1), m.group(0)), value)
    if isinstance(value, list):
        return [fill_row(v, row) for v in value]
    if isinstance(value, dict):
        return {k: fill_row(v, row) for k, v in value.items()}
    return value


def scenario_targets(scenario):
    return scenario.get("targets", ["linux", "wine"])


def scenario_vars(scenario, preludes):
    """The variables expected values use: the shared defaults, then the job's
    script-instance attributes and the argument, then the scenario's own."""
    values = dict(preludes["vars"])
    values.update(scenario.get("job", {}).get("scriptinstance", {}))
    if "argument" in scenario:
        values["argument"] = Lit(scenario["argument"])
    values.update(scenario.get("vars", {}))
    return values



# --------------------------------------------------------------------------
# Expected values: texts with ${name} placeholders, lists of lines, and
# per-target values.

PLACEHOLDER = re.compile(r"\$\{([A-Za-z_][A-Za-z0-9_]*)\}")


class Expander:
    """Turns an expected value into a compiled regular expression."""

    def __init__(self, target, builtins, user_vars):
        self.target = target
        self.values = dict(builtins)
        for name, value in (user_vars or {}).items():
            picked = self.pick(value, f"vars.{name}")
            self.values[name] = Pattern(r"(?s:.*)") if picked is None else picked

    def _raw(self, value, where):
        if isinstance(value, list):
            if not all(isinstance(v, str) for v in value):
                raise ScenarioError(f"{where}: a list of lines must hold texts only")
            return "\n".join(value)
        if isinstance(value, str):
            return value
        raise ScenarioError(f"{where}: expected a text or a list of lines, got {value!r}")

    def pick(self, value, where):
        """The value for this target: None when any value is accepted here."""
        if isinstance(value, Lit):
            return value
        if isinstance(value, dict):
            if "why" not in value:
                raise ScenarioError(f"{where}: a per-target value needs a 'why'")
            if set(value) - {"linux", "wine", "why"}:
                raise ScenarioError(f"{where}: unknown members {sorted(set(value))}")
            if self.target not in value:
                return None
            value = value[self.target]
        return self._raw(value, where)

    def regex(self, value, where, depth=0):
        """Regular expression source for a text that may hold placeholders."""
        if isinstance(value, Lit):
            return re.escape(value)
        if depth > 5:
            raise ScenarioError(f"{where}: placeholders nest too deep")
        parts = []
        pos = 0
        for m in PLACEHOLDER.finditer(value):
            parts.append(re.escape(value[pos:m.start()]))
            name = m.group(1)
            if name not in self.values:
                raise ScenarioError(f"{where}: unknown placeholder ${{{name}}}")
            replacement = self.values[name]
            if isinstance(replacement, Pattern):
                parts.append("(?:" + replacement + ")")
            elif isinstance(replacement, Lit):
                parts.append(re.escape(replacement))
            else:  # a scenario variable: may hold placeholders itself
                parts.append(self.regex(replacement, where, depth + 1))
            pos = m.end()
        parts.append(re.escape(value[pos:]))
        return "".join(parts)

    def matcher(self, value, where):
        picked = self.pick(value, where)
        if picked is None:
            return None
        return re.compile(self.regex(picked, where), re.DOTALL)

    def matches(self, value, actual, where):
        m = self.matcher(value, where)
        return m is None or m.fullmatch(actual) is not None

    def display(self, value, where, depth=0):
        """The expected text with its placeholders filled in for reading;
        a pattern shows as <name>."""
        def fill(m):
            name = m.group(1)
            replacement = self.values.get(name)
            if replacement is None or isinstance(replacement, Pattern):
                return "<" + name + ">"
            if isinstance(replacement, Lit) or depth > 5:
                return replacement
            return self.display(replacement, where, depth + 1)
        return PLACEHOLDER.sub(fill, value)

    def show(self, value, where):
        """How an expected value reads in a report (one line)."""
        if isinstance(value, dict):
            picked = self.pick(value, where)
            if picked is None:
                return "<any: " + value["why"] + ">"
            return visible(self.display(picked, where))
        return visible(self.display(self._raw(value, where), where))

    def diff(self, value, actual, where):
        """Line by line differences between an expected and an actual text."""
        picked = self.pick(value, where)
        want = self.display(picked if picked is not None else "", where)
        return ["  " + visible(line) for line in difflib.unified_diff(
            want.split("\n"), actual.split("\n"), "expected", "actual", lineterm="", n=1)]


def visible(text):
    return (text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")
            .replace("\t", "\\t"))


# --------------------------------------------------------------------------
# Comparison


class Report:
    def __init__(self, target):
        self.target = target
        self.failures = []

    def fail(self, title, lines=()):
        self.failures.append((title, list(lines)))

    def print(self):
        for title, lines in self.failures:
            print(f"FAIL [{self.target}] {title}")
            for line in lines:
                print("    " + line)


def align(expected, actual, match):
    """Longest common subsequence under `match`: a list of (i, j) pairs,
    with None for a line on one side only."""
    n, m = len(expected), len(actual)
    table = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n - 1, -1, -1):
        for j in range(m - 1, -1, -1):
            if match(i, j):
                table[i][j] = table[i + 1][j + 1] + 1
            else:
                table[i][j] = max(table[i + 1][j], table[i][j + 1])
    pairs, i, j = [], 0, 0
    while i < n and j < m:
        if match(i, j) and table[i][j] == table[i + 1][j + 1] + 1:
            pairs.append((i, j))
            i, j = i + 1, j + 1
        elif table[i + 1][j] >= table[i][j + 1]:
            pairs.append((i, None))
            i += 1
        else:
            pairs.append((None, j))
            j += 1
    pairs += [(k, None) for k in range(i, n)] + [(None, k) for k in range(j, m)]
    return pairs


def expand_records(expected, preludes, schemes_before, depth=0):
    """Replaces each "@name" (or {"prelude": name, ...}) by the records it
    stands for: a named run of preludes.json (which may name others), or
    "enum", one enumeration line per scheme of the machine before the run
    ("without" leaves names out, "with" adds names at the end)."""
    if depth > 5:
        raise ScenarioError("preludes name each other too deep")
    out = []
    for k, record in enumerate(expected):
        if isinstance(record, str) and record.startswith("@"):
            record = {"prelude": record[1:]}
        if not isinstance(record, dict):
            out.append(record)
            continue
        name = record.get("prelude")
        if set(record) - {"prelude", "without", "with"} or not isinstance(name, str):
            raise ScenarioError(f"expect.log.records[{k}]: a prelude is "
                                '{"prelude": name} with optional "without" and "with"')
        if name == "enum":
            names = [n for n in schemes_before if n not in record.get("without", [])]
            out += [["${user}", "SCHEMESENUMPROC", "SUCCESS", "EnumPwrSchemes", "", Lit(n)]
                    for n in names + record.get("with", [])]
        elif name in preludes["records"] and set(record) == {"prelude"}:
            out += expand_records(preludes["records"][name], preludes, schemes_before,
                                  depth + 1)
        else:
            raise ScenarioError(f"expect.log.records[{k}]: no prelude {name!r}")
    return out


def compare_records(exp, expected, actual, report):
    for k, record in enumerate(expected):
        if not isinstance(record, list) or len(record) not in (5, 6):
            raise ScenarioError(f"expect.log.records[{k}]: a record is a list of 5 values "
                                "(module, type, val1, val2, val3) or 6 (user first)")
    matchers = []
    for k, record in enumerate(expected):
        offset = 0 if len(record) == 6 else 1
        matchers.append([(col + offset, exp.matcher(value, f"expect.log.records[{k}][{col}]"))
                         for col, value in enumerate(record)])

    def match(i, j):
        return all(m is None or m.fullmatch(actual[j][col]) is not None
                   for col, m in matchers[i])

    pairs = align(expected, actual, match)
    if all(i is not None and j is not None for i, j in pairs):
        return

    def show_expected(i):
        record = expected[i]
        cols = [exp.show(v, f"records[{i}]") for v in record]
        if len(record) == 5:
            cols = ["(any user)"] + cols
        return " | ".join(cols)

    lines = ["(= same, - expected only, + actual only; \\r \\n \\t made visible)"]
    for i, j in pairs:
        if i is not None and j is not None:
            lines.append("  " + " | ".join(visible(c) for c in actual[j]))
        elif i is not None:
            lines.append("- " + show_expected(i))
        else:
            lines.append("+ " + " | ".join(visible(c) for c in actual[j]))
    report.fail("activity log records differ", lines)


def compare(scenario, target, observed, builtins, report, preludes):
    """Every way the run departs from the scenario's expectations, into
    `report`: how each run ended, the activity log, and (when the run left
    a log) the posts, fallback files, commands, power state and schemes."""
    exp = Expander(target, builtins, scenario_vars(scenario, preludes))
    expect = scenario["expect"]

    ends = expect.get("ends", "exit 0")
    for code in observed.exit_codes or [observed.exit_code]:
        if code not in ENDINGS[ends]:
            report.fail(f"exit code {code}, expected {ends}",
                        observed.stderr.strip().splitlines()[-20:])
    if not compare_log(exp, expect["log"], observed, builtins, report, preludes):
        return
    if "posts" in expect:
        compare_posts(exp, expect["posts"], observed.posts, report)
    if "fallback" in expect:
        compare_fallback(exp, expect["fallback"], observed, builtins["data_folder"]
                         + "\\QTVPostLogs", report)
    else:
        check_status_files(observed, report)
    compare_machine_state(exp, expect, observed, report)
    if "schemes" in expect:
        compare_schemes(expect["schemes"], observed.schemes or {}, report)


def compare_log(exp, log, observed, builtins, report, preludes):
    """The activity log: one file, in the expected folder, with its header,
    records and End line. False when the run left no log."""
    location = log.get("location", "data_folder")
    if location == "data_folder":
        folder = builtins["data_folder"] + "\\ApplicationLog\\zQTVLog"
    elif location == "drive_root":
        folder = "C:\\ApplicationLog\\zQTVLog"
    else:
        raise ScenarioError("expect.log.location is 'data_folder' or 'drive_root'")
    if len(observed.log_files) != 1:
        report.fail(f"expected one activity log file in {folder}, found "
                    f"{len(observed.log_files)}",
                    [f"{d}\\{n}" for d, n, _ in observed.log_files])
    if not observed.log_files:
        return False
    log_folder, log_name, raw = observed.log_files[0]
    if log_folder.lower() != folder.lower():
        report.fail("activity log in the wrong folder",
                    [f"expected {folder}", f"actual   {log_folder}"])
    if not re.fullmatch(r"zReTessalyXP_\[\d{8}\]\.Log", log_name):
        report.fail(f"activity log file name {log_name!r} is not zReTessalyXP_[DDMMYYYY].Log")
    text, crlf = undo_text_mode(raw, observed.ansi)
    if not crlf:
        report.fail("activity log has a line feed without a carriage return before it")
    header, records, junk = parse_log(text)
    if junk:
        report.fail("activity log has text that is neither header nor record",
                    [visible(junk[:300])])

    if "header" in log:
        want = log["header"]
        ok = len(want) == len(header) and all(
            exp.matches(w, h, f"expect.log.header[{k}]") for k, (w, h) in
            enumerate(zip(want, header)))
        if not ok:
            report.fail("activity log header differs",
                        ["expected:"] + ["  " + exp.show(w, "header") for w in want]
                        + ["actual:"] + ["  " + visible(h) for h in header])
    elif len(header) != 6:
        report.fail(f"activity log header has {len(header)} lines, expected 6",
                    [visible(h) for h in header])

    compare_records(exp, expand_records(log.get("records", []), preludes,
                                        observed.schemes_before), records, report)

    if "end_line" in log:
        ends = [r for r in records if r[1:5] == ["WinMain", "INFO", "Application", "End"]]
        if log["end_line"]:
            if not records or records[-1][1:5] != ["WinMain", "INFO", "Application", "End"]:
                report.fail("the last log record is not the End line")
        elif ends:
            report.fail("an End line was written", [" | ".join(map(visible, r)) for r in ends])
    return True


def compare_posts(exp, want, posts, report):
    """The posts through the post library, in order."""
    lines = []
    if len(want) != len(posts):
        lines.append(f"expected {len(want)} posts, got {len(posts)}")
    for k in range(max(len(want), len(posts))):
        got = posts[k] if k < len(posts) else None
        w = want[k] if k < len(want) else None
        if w is None:
            lines.append(f"unexpected post {k + 1}: {visible(str(got[0]))}")
            continue
        if got is None:
            lines.append(f"missing post {k + 1}: {exp.show(w['url'], 'url')}")
            continue
        if not exp.matches(w["url"], got[0] or "", f"posts[{k}].url"):
            lines += [f"post {k + 1} URL differs:", "  expected " + exp.show(w["url"], "url"),
                      "  actual   " + visible(str(got[0]))]
        if not exp.matches(w["document"], got[1] or "", f"posts[{k}].document"):
            lines += [f"post {k + 1} document differs:"]
            lines += exp.diff(w["document"], got[1] or "", "document")
        if got[2:] != ["N", "", "", "", ""]:
            lines.append(f"post {k + 1}: texts 3 to 7 are {got[2:]!r}, expected "
                         "['N', '', '', '', '']")
    if lines:
        report.fail("posts differ", lines)


def status_file_document(raw, codec, posts):
    """The document a status file holds after its XML declaration, and what
    is wrong with the file: it must parse with a standard XML parser, name the
    machine's code page (`codec`) and hold the characters of every posted
    document."""
    problems = []
    if re.search(rb"(?<!\r)\n", raw):
        problems.append("has a line feed without a carriage return")
    text = raw.replace(b"\r\n", b"\n")
    declaration = XML_DECLARATION.match(text)
    if not declaration:
        problems.append("opens with no XML declaration naming its encoding")
        return text.decode(codec, "replace"), problems
    declared = declaration.group(1).decode("ascii", "replace")
    declared_codec = WINDOWS_CODECS.get(declared.lower(), declared)
    try:
        if codecs.lookup(declared_codec).name != codecs.lookup(codec).name:
            problems.append(f"declares {declared}; the machine's code page is {codec}")
        characters = text.decode(declared_codec)
    except (LookupError, UnicodeDecodeError) as e:
        return text.decode(codec, "replace"), problems + [f"is not {declared}: {e}"]
    try:
        ElementTree.fromstring(raw)
    except ElementTree.ParseError as e:
        problems.append(f"does not parse: {e}")
    except ValueError:  # a multi-byte encoding
        try:
            ElementTree.fromstring(characters)
        except ElementTree.ParseError as e:
            problems.append(f"does not parse: {e}")
    document = characters[len(declaration.group(0)):]
    if any(post[1] != document for post in posts if len(post) > 1):
        problems.append("holds other characters than the posted document")
    return document, problems


def check_status_files(observed, report):
    """Every status file the run left parses to the posted document."""
    for folder, name, raw in observed.fallback_files:
        _, problems = status_file_document(raw, observed.ansi, observed.posts)
        if problems:
            report.fail(f"status file {name} is not sound", problems)


def compare_fallback(exp, want, observed, post_folder, report):
    """The fallback status files (one, a list, or null for none), each
    checked by status_file_document; `text` is the document after the XML
    declaration."""
    files = observed.fallback_files
    want = [] if want is None else (want if isinstance(want, list) else [want])
    lines = []
    if len(want) != len(files):
        lines.append(f"expected {len(want)} fallback files, found "
                     f"{[d + chr(92) + n for d, n, _ in files]}")
    for k, (w, got) in enumerate(zip(want, files)):
        folder_found, name, raw = got
        if folder_found.lower() != post_folder.lower():
            lines.append(f"fallback file in {folder_found}, expected {post_folder}")
        if not exp.matches(w["name"], name, f"fallback[{k}].name"):
            lines.append(f"fallback file name {name!r}, expected "
                         f"{exp.show(w['name'], 'name')}")
        text, problems = status_file_document(raw, observed.ansi, observed.posts)
        lines += [f"fallback file {name} {problem}" for problem in problems]
        if not exp.matches(w["text"], text, f"fallback[{k}].text"):
            lines += ["fallback file contents differ (each line ends in CR LF on disk):"]
            lines += exp.diff(w["text"], text, "text")
    if lines:
        report.fail("fallback status files differ", lines)


def compare_schemes(want, got, report):
    """The power schemes after the run: the active one and the list."""
    if "active" in want and got.get("active") != want["active"]:
        report.fail(f"active scheme after the run is {got.get('active')!r}, "
                    f"expected {want['active']!r}")
    if "list" in want and got.get("list") != sorted(list(x) for x in want["list"]):
        report.fail("schemes after the run differ",
                    [f"expected {sorted(list(x) for x in want['list'])}",
                     f"actual   {got.get('list')}"])


def is_per_target(value):
    return isinstance(value, dict) and "why" in value and set(value) <= {"linux", "wine", "why"}


def differences(exp, want, got, where):
    """Where `got` does not hold `want`: an object holds the members it
    names (others are ignored), a list has as many entries, each holding
    its counterpart; a text may use placeholders; anything else is equal."""
    if is_per_target(want):
        if exp.target not in want:
            return []
        want = want[exp.target]
    if isinstance(want, dict):
        if not isinstance(got, dict):
            return [f"{where}: expected an object, got {json.dumps(got)}"]
        out = []
        for key, value in want.items():
            if is_per_target(value) and exp.target not in value:
                continue  # any value, or none, on this target
            if key not in got:
                out.append(f"{where}.{key}: missing")
            else:
                out += differences(exp, value, got[key], f"{where}.{key}")
        return out
    if isinstance(want, list):
        if not isinstance(got, list) or len(got) != len(want):
            return [f"{where}: expected {len(want)} entries, got {json.dumps(got)}"]
        return [d for k, (w, g) in enumerate(zip(want, got))
                for d in differences(exp, w, g, f"{where}[{k}]")]
    if isinstance(want, str):
        if isinstance(got, str) and exp.matches(want, got, where):
            return []
        return [f"{where}: expected {exp.show(want, where)}, got {visible(json.dumps(got))}"]
    if want == got and isinstance(want, bool) == isinstance(got, bool):
        return []
    return [f"{where}: expected {json.dumps(want)}, got {json.dumps(got)}"]


def compare_machine_state(exp, expect, observed, report):
    """The commands run and the power state after the run."""
    if "commands" in expect:
        want = expect["commands"]
        if set(want) - {"each", "list"}:
            raise ScenarioError("expect.commands holds 'each' and 'list'")
        listed = [{"command_line": c} if isinstance(c, str) else c for c in want.get("list", [])]
        lines = differences(exp, listed, observed.commands, "commands")
        for k, command in enumerate(observed.commands):
            lines += differences(exp, want.get("each", {}), command, f"commands[{k}]")
        if lines:
            report.fail("commands differ", lines + ["commands run:"] + [
                "  " + visible(c.get("command_line", "")) for c in observed.commands])
    if "power" in expect:
        power = dict(observed.power or {})
        power["schemes"] = {str(s.get("index")): s for s in power.get("schemes", [])}
        lines = differences(exp, expect["power"], power, "power")
        if lines:
            report.fail("power state after the run differs", lines)


def print_observed(observed):
    print("== exit code:", observed.exit_code)
    if observed.stderr.strip():
        print("== stderr\n" + observed.stderr)
    for folder, name, raw in observed.log_files:
        print(f"== log {folder}\\{name}")
        text, _ = undo_text_mode(raw, observed.ansi)
        header, records, _ = parse_log(text)
        for h in header:
            print("  " + visible(h))
        for r in records:
            print("  " + json.dumps(r, ensure_ascii=False))
    for k, texts in enumerate(observed.posts):
        print(f"== post {k + 1}: {json.dumps(texts[:2], ensure_ascii=False)}")
    for folder, name, raw in observed.fallback_files:
        print(f"== fallback {folder}\\{name}: {visible(raw.decode(observed.ansi, 'replace'))}")
    print("== schemes:", json.dumps(observed.schemes))
    for command in observed.commands:
        print("== command:", json.dumps(command, ensure_ascii=False))
    if observed.power is not None:
        print("== power:", json.dumps(observed.power, ensure_ascii=False))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("scenario", help="the scenario's JSON file")
    parser.add_argument("--target", choices=["linux", "wine"], required=True)
    parser.add_argument("--build-dir", required=True,
                        help="the build folder (its CMakeCache.txt gives the settings)")
    parser.add_argument("--program", help="the program (default: from the build folder)")
    parser.add_argument("--doubles", help="Wine: folder of the test doubles")
    parser.add_argument("--prefix", help="Wine: the prefix (default: ZRT_WINE_PREFIX)")
    parser.add_argument("--keep", action="store_true", help="keep the machine folder")
    parser.add_argument("--show", action="store_true", help="print what the run left behind")
    args = parser.parse_args()

    name = pathlib.Path(args.scenario).stem
    try:
        preludes = load_preludes()
        scenario = load_scenario(args.scenario, preludes)
        if args.target not in scenario_targets(scenario):
            print(f"SKIP [{args.target}] {name}: the scenario does not apply to this target")
            return EXIT_SKIP
        target = make_target(args.target, args.build_dir, args.program, args.doubles,
                             args.prefix, args.keep)
        default_url = target.cache.get("ZRT_DEFAULT_STATUS_URL", "https://status.server.invalid")
        failed = False
        for code_page, one in code_page_runs(scenario):
            label = name if code_page is None else f"{name} (code page {code_page})"
            observed, builtins = target.run(one, default_url, preludes)
            if args.show:
                print_observed(observed)
            report = Report(args.target)
            compare(one, args.target, observed, builtins, report, preludes)
            if observed.timed_out:
                print(f"FAIL [{args.target}] {label}: the program did not end within "
                      f"{target.timeout} s")
                failed = True
            elif report.failures:
                print(f"== {label}")
                report.print()
                failed = True
            else:
                print(f"PASS [{args.target}] {label}")
    except Skip as e:
        print(f"SKIP [{args.target}] {name}: {e}")
        return EXIT_SKIP
    except ScenarioError as e:
        print(f"ERROR [{args.target}] {name}: {e}")
        return EXIT_FAIL
    except subprocess.TimeoutExpired as e:
        print(f"FAIL [{args.target}] {name}: {e.cmd[0]} did not end within {e.timeout} s")
        return EXIT_FAIL
    if failed and not args.show:
        print("(run again with --show to see everything the run left behind)")
    return EXIT_FAIL if failed else EXIT_PASS


if __name__ == "__main__":
    sys.exit(main())
