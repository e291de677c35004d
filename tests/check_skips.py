"""Fails the test command on a test that did not run. ctest and unittest count a skipped test
(GTEST_SKIP, unittest's SkipTest) as a pass, and the only test of a guarantee may be the one that
skips. A test may skip only when the allow-list names it, with the reason it may.

Usage: check_skips.py ALLOW_LIST LABEL=JUNIT_FILE...
  ALLOW_LIST   lines "<ctest test name> <why it may skip>"; "#" starts a comment
  JUNIT_FILE   written by `ctest --output-junit`, LABEL names the run in the report

Prints each test that did not run, with what its output gives as the reason, then the
allow-list; ends with status 1 when a test did not run that the list does not name, or when
a result file or the list cannot be read."""

import re
import sys
import xml.etree.ElementTree as ElementTree

# ctest's statuses of a test that ran: passed or failed.
RAN = ("run", "fail")


def read_allow_list(path):
    """{test name: reason}; raises ValueError on an entry without a reason."""
    allowed = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            name, *rest = line.split(None, 1)
            reason = rest[0] if rest else ""
            if not reason.strip():
                raise ValueError("%s:%d: %s has no reason" % (path, number, name))
            allowed[name] = reason.strip()
    return allowed


def reason_in_output(output):
    """The skip's reason as the test printed it: GoogleTest writes "file:line: Skipped" and the
    message on the next line, unittest "skipped 'message'"."""
    found = re.search(r": Skipped\n(.+)", output)
    if found:
        return found.group(1).strip()
    found = re.search(r"skipped '(.*)'", output)
    if found:
        return found.group(1)
    return ""


def not_run(path):
    """[(test name, status, reason)] of the tests in a ctest JUnit file that did not run."""
    with open(path, "rb") as f:
        data = f.read()
    found = []
    try:
        cases = ElementTree.fromstring(data).iter("testcase")
        for case in cases:
            status = case.get("status", "")
            if status not in RAN:
                output = case.findtext("system-out") or ""
                found.append((case.get("name", "?"), status, reason_in_output(output)))
    except ElementTree.ParseError:
        # A test's output ctest could not make into XML: the test lines are still plain.
        text = data.decode("utf-8", "replace")
        for name, status in re.findall(r'<testcase name="([^"]*)"[^>]*status="([^"]*)"', text):
            if status not in RAN:
                found.append((name, status, ""))
    return found


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    allow_path = argv[1]
    problems = []
    try:
        allowed = read_allow_list(allow_path)
    except (OSError, ValueError) as error:
        problems.append("allow-list: %s" % error)
        allowed = {}
    skipped = []
    for argument in argv[2:]:
        label, _, path = argument.partition("=")
        try:
            skipped += [(label, *entry) for entry in not_run(path)]
        except (OSError, ElementTree.ParseError) as error:
            problems.append("%s: no test results in %s: %s" % (label, path, error))

    print("== tests that did not run ==")
    if not skipped:
        print("none")
    for label, name, status, reason in skipped:
        verdict = "allowed" if name in allowed else "NOT ALLOWED"
        print("%s: %s (%s%s): %s" % (label, name, status, ": " + reason if reason else "",
                                      verdict))
        if name not in allowed:
            problems.append("%s: %s did not run and %s does not allow it" % (label, name,
                                                                            allow_path))
    print("== skips allowed by %s ==" % allow_path)
    if not allowed:
        print("none")
    for name, reason in allowed.items():
        print("%s: %s" % (name, reason))
    for problem in problems:
        print("FAILED: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
