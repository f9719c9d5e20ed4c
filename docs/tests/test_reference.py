"""The documents against the sources they describe.

docs/protocol.md must name every command, event, request argument, error code,
error message and exit status that the listener's sources hold, and nothing
they do not; docs/imgfit.md every option, result-line member, limit, error code
with its exit status, and exit status of imgfit's sources; the README's layout
table the link lists of the build. Every repository path that the README and
the documents mention must exist.

The facts are read from the sources with a few patterns that follow the code's
own conventions (one command table, response_error and ErrorText for every
failure, ExitStatus for every imgfit code), so a new command or code that keeps
to them cannot go undocumented.
"""

import os
import re
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("OMBRI_BUILD_DIR", ROOT / "build"))
LISTENER = ROOT / "native/ombri-listener"
LISTENER_SRC = LISTENER / "src"
IMGFIT_SRC = ROOT / "imgfit/src"
PROTOCOL_DOC = ROOT / "docs/protocol.md"
IMGFIT_DOC = ROOT / "docs/imgfit.md"
README = ROOT / "README.md"

# Folders of the listener whose messages reach the app; the platform layer,
# base and wav only pass the system's texts on.
MESSAGE_FOLDERS = ("listener", "processing", "fixture", "system_audio", "calendar", "protocol")

CPP_STRING = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
SNAKE_CODE = re.compile(r"^[a-z]+(?:_[a-z]+)+$")


def text(path):
    return path.read_text(encoding="utf-8")


def unescape(literal):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), literal)


def strings_in(code):
    return [unescape(s) for s in CPP_STRING.findall(code)]


def sources(root, folders=None, suffixes=(".cpp", ".hpp")):
    for path in sorted(root.rglob("*")):
        if path.suffix not in suffixes:
            continue
        if folders is not None and path.relative_to(root).parts[0] not in folders:
            continue
        yield path


def squeeze(s):
    return " ".join(s.split())


def section(markdown, heading):
    """The text under `## heading` up to the next heading of that level."""
    match = re.search(rf"^## {re.escape(heading)}\n(.*?)(?=^## |\Z)", markdown, re.S | re.M)
    if not match:
        raise AssertionError(f"no section '## {heading}'")
    return match.group(1)


def table_rows(markdown):
    """The body rows of the first table in `markdown`, as lists of cells."""
    lines = markdown.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("|"))
    table = []
    for line in lines[start:]:
        if not line.startswith("|"):
            break
        table.append(line)
    # The first row is the header, the second the separator.
    return [[cell.strip() for cell in line.strip().strip("|").split("|")] for line in table[2:]]


def first_column(markdown):
    """The first code span (or number) of the first cell of each row of the first table."""
    names = []
    for row in table_rows(markdown):
        span = re.search(r"`([^`]+)`", row[0])
        names.append(span.group(1) if span else row[0])
    return names


def spans(cell):
    return re.findall(r"`([^`]+)`", cell)


# --- what the listener's sources hold ---------------------------------------


def listener_commands():
    table = re.search(r"kCommands\[\] = \{(.*?)\};", text(LISTENER_SRC / "listener/commands.cpp"), re.S)
    return re.findall(r'\{"(\w+)",', table.group(1))


def listener_errors():
    """Error codes, and the messages given with them where the code answers."""
    codes, messages = set(), set()
    for path in sources(LISTENER_SRC, MESSAGE_FOLDERS):
        for call in re.findall(r"response_error(?:_without_id)?\((.*?)\);", text(path), re.S):
            literals = strings_in(call)
            code = next((s for s in literals if SNAKE_CODE.match(s)), None)
            if code is None:  # the envelope's own definition
                continue
            codes.add(code)
            messages.update(s for s in literals if s != code)
    return codes, messages


def listener_message_fragments():
    """The fixed parts of every failure text, split at format placeholders."""
    fragments = set()
    patterns = (r"ErrorText\{(.*?)\};", r'failure\(\s*("(?:[^"\\]|\\.)*")', r'lead_in = ("(?:[^"\\]|\\.)*")')
    for path in sources(LISTENER_SRC, MESSAGE_FOLDERS):
        code = text(path)
        for pattern in patterns:
            for match in re.findall(pattern, code, re.S):
                for literal in strings_in(match):
                    for piece in re.split(r"\{[^}]*\}", literal):
                        piece = squeeze(piece)
                        if len(piece) >= 4 and re.search("[A-Za-z]", piece):
                            fragments.add(piece)
    return fragments


def listener_event_types():
    found = set()
    for path in sources(LISTENER_SRC, MESSAGE_FOLDERS):
        found.update(re.findall(r'\{"type",\s*"(\w+)"\}', text(path)))
    return found


def listener_arguments():
    readers = r'(?:usable_text|boolean_member|any_string_arg)\(\s*[^,()]+,\s*"(\w+)"\)|\.find\("(\w+)"\)'
    found = set()
    for path in sources(LISTENER_SRC, ("listener", "protocol")):
        for a, b in re.findall(readers, text(path)):
            found.add(a or b)
    return found


CAPABILITY_KEY = re.compile(r'\{"(\w+)",\s*(?=capability\()|capabilities\["(\w+)"\]\s*=')
CAPABILITY_CALL = re.compile(r'capability\(\s*"(\w+)",\s*((?:"(?:[^"\\\n]|\\.)*"\s*)+|std::nullopt)?')


def capabilities_in(code):
    """Each capability key set in `code`, with the (status, reason) pairs it can get: the reason's text, "null",
    or None where the reason is worked out when it runs."""
    found = {}
    marks = list(CAPABILITY_KEY.finditer(code))
    for mark, following in zip(marks, marks[1:] + [None]):
        stretch = code[mark.end():following.start() if following else len(code)]
        pairs = found.setdefault(mark.group(1) or mark.group(2), [])
        for status, reason in CAPABILITY_CALL.findall(stretch):
            if reason == "std::nullopt":
                pairs.append((status, "null"))
            else:
                pairs.append((status, "".join(strings_in(reason)) if reason else None))
    return found


def listener_capabilities():
    """The capabilities of each mode: outside smoke mode, in smoke mode, in the answer to a fixture start."""
    body = re.search(r"Json listener_capabilities\([^)]*\) \{\n(.*?)\n\}", text(LISTENER_SRC / "listener/readiness.cpp"),
                     re.S).group(1)
    shared, rest = body.split("if (smoke) {", 1)
    smoke, normal = rest.split("return capabilities;", 1)
    fixture = re.search(r"Json fixture_capabilities\(\) \{\n(.*?)\n\}",
                        text(LISTENER_SRC / "listener/capture_start.cpp"), re.S).group(1)
    return {"normal": capabilities_in(shared + normal), "smoke": capabilities_in(shared + smoke),
            "fixture": capabilities_in(fixture)}


def listener_exit_statuses():
    found = set(re.findall(r"exit_now\((\d+)\)", text(LISTENER_SRC / "main.cpp")))
    for path in sources(LISTENER_SRC):
        found.update(re.findall(r"_Exit\((\d+)\)", text(path)))
    return found


# --- what imgfit's sources hold ---------------------------------------------


def imgfit_exit_statuses():
    enum = re.search(r"enum class ExitStatus[^{]*\{(.*?)\};", text(IMGFIT_SRC / "failure.hpp"), re.S).group(1)
    return {name: value for name, value in re.findall(r"(\w+) = (\d+),", enum)}


def imgfit_codes():
    """Every code with the exit statuses it is raised with."""
    statuses = imgfit_exit_statuses()
    codes = {}
    for path in sources(IMGFIT_SRC):
        for status, code in re.findall(r'ExitStatus::(\w+),\s*"(\w+)"', text(path)):
            codes.setdefault(code, set()).add(statuses[status])
    return codes


def imgfit_options():
    return set(re.findall(r'"(--[a-z-]+)"', text(IMGFIT_SRC / "options.cpp")))


def imgfit_result_members():
    raw = "".join(re.findall(r'R"\((.*?)\)"', text(IMGFIT_SRC / "result_line.cpp"), re.S))
    return set(re.findall(r'"(\w+)":', raw))


def imgfit_limits():
    """The limits of the interface (the headers' constants, the path length) and the quality ladder."""
    numbers = set(re.findall(r"constexpr std::\w+ k\w+ = ([\d']+);", text(IMGFIT_SRC / "options.cpp")))
    for path in sources(IMGFIT_SRC, suffixes=(".hpp",)):
        numbers.update(re.findall(r"inline constexpr std::\w+ k\w+ = ([\d']+);", text(path)))
    ladder = re.search(r"kQualityLadder = \{([^}]*)\}", text(IMGFIT_SRC / "search.hpp")).group(1)
    return {n.replace("'", "") for n in numbers}, [q.strip() for q in ladder.split(",")]


# --- the build's link lists -------------------------------------------------


OWN_TARGET = re.compile(r"(?:\$<LINK_ONLY:)?(ombri_\w+|imgfit_core)>?$")


def own_targets(items):
    """The targets of this repository among the items of a link list."""
    return {m.group(1) for m in map(OWN_TARGET.match, items.split()) if m}


def build_links():
    """Our own targets, each with the folder it builds and our own targets it links."""
    listener_cmake = text(LISTENER / "CMakeLists.txt")
    imgfit_cmake = text(ROOT / "imgfit/CMakeLists.txt")
    targets = {}
    for name, folder, depends in re.findall(
            r"ombri_listener_library\((\w+)\s+([\w/]+)(?:\s+DEPENDS([^)]*))?\)", listener_cmake):
        targets[name] = {"folder": f"native/ombri-listener/src/{folder}/", "links": own_targets(depends)}
    for cmake in (listener_cmake, imgfit_cmake):
        for name in re.findall(r"add_(?:library|executable)\(([\w-]+)", cmake):
            targets.setdefault(name, {"folder": None, "links": set()})
        for name, items in re.findall(r"target_link_libraries\(([\w-]+)\s+(?:PUBLIC|PRIVATE|INTERFACE)\s+([^)]*)\)",
                                      cmake):
            if name in targets:
                targets[name]["links"] |= own_targets(items)
    return targets


# --- paths in the documents -------------------------------------------------


RELATIVE_PATH = re.compile(r"(?<![\w./~$-])([\w.-]+(?:/[\w.-]*)+)")
WHOLE_PATH = re.compile(r"[\w.-]+(?:/[\w.-]*)+")
SOURCE_FILE = re.compile(r"[\w.-]+\.(?:cpp|hpp|py)")
MIME_TYPE = re.compile(r"(?:image|audio|text|application)/[\w.+-]+")


def mentioned_paths(markdown):
    """Relative paths in shell blocks (the commands) and in code spans that are a path."""
    paths, names = [], []
    fence = r"^[ \t]*```(\w*)\n(.*?)^[ \t]*```"
    for lang, body in re.findall(fence, markdown, re.S | re.M):
        if lang == "sh":
            paths += RELATIVE_PATH.findall(body.replace("$PWD/", ""))
    prose = re.sub(fence, "", markdown, flags=re.S | re.M)
    for span in re.findall(r"`([^`\n]+)`", prose):
        if WHOLE_PATH.fullmatch(span):
            paths.append(span)
        elif SOURCE_FILE.fullmatch(span):
            names.append(span)
    return [p for p in paths if not MIME_TYPE.fullmatch(p) and not re.fullmatch(r"[\d/]+", p)], names


def resolves(path):
    if path.startswith("build/"):
        return (BUILD / path[len("build/"):]).exists()
    if (ROOT / path).exists():
        return True
    # The listener's folders are named from its source root, as in "platform/sim/".
    first = path.split("/")[0]
    return (LISTENER_SRC / first).is_dir() and (LISTENER_SRC / path).exists()


class DocumentTest(unittest.TestCase):
    maxDiff = None

    def assertMentions(self, needle, document, name):
        self.assertTrue(needle in document, f"{name} does not mention {needle!r}")


class ListenerReference(DocumentTest):
    doc = text(PROTOCOL_DOC)

    def test_every_command_has_a_row_and_a_section(self):
        commands = listener_commands()
        self.assertEqual(len(commands), 12)
        self.assertEqual(sorted(first_column(section(self.doc, "Commands"))), sorted(commands))
        for command in commands:
            with self.subTest(command=command):
                self.assertMentions(f"\n### `{command}`\n", self.doc, "docs/protocol.md")

    def test_every_error_code_and_its_messages(self):
        codes, messages = listener_errors()
        self.assertEqual(set(first_column(section(self.doc, "Errors"))), codes)
        documented = squeeze(self.doc)
        for fragment in sorted(messages | listener_message_fragments()):
            with self.subTest(message=fragment):
                self.assertMentions(fragment, documented, "docs/protocol.md")

    def test_every_event_type(self):
        rows = {name.strip('"') for name in first_column(section(self.doc, "Events"))}
        self.assertEqual(rows, listener_event_types())

    def test_every_request_argument(self):
        for argument in sorted(listener_arguments()):
            with self.subTest(argument=argument):
                self.assertMentions(f"`{argument}`", self.doc, "docs/protocol.md")

    def test_every_exit_status(self):
        self.assertEqual(set(first_column(section(self.doc, "Exit statuses"))), listener_exit_statuses())

    def test_the_capabilities_of_each_mode(self):
        documented_under = {"normal": "Commands", "smoke": "Smoke mode", "fixture": "Fixture mode"}
        for mode, capabilities in listener_capabilities().items():
            with self.subTest(mode=mode):
                part = section(self.doc, documented_under[mode])
                rows = table_rows(part[part.index("| Key | `status`, `reason` |"):])
                # Every key, in the order of the listener's output.
                self.assertEqual([spans(row[0])[0] for row in rows], sorted(capabilities))
                for row in rows:
                    for status, reason in capabilities[spans(row[0])[0]]:
                        pair = f'"{status}"' if reason is None else f'"{status}", ' + (
                            reason if reason == "null" else f'"{reason}"')
                        self.assertMentions(pair, squeeze(row[1]), f"the row of {row[0]} under {mode}")


class ImgfitReference(DocumentTest):
    doc = text(IMGFIT_DOC)

    def test_every_code_with_its_exit_status(self):
        documented = {}
        for row in table_rows(section(self.doc, "Error line")):
            names = spans(row[0])
            if names and row[1].isdigit():
                documented[names[0]] = {row[1]}
        self.assertEqual(documented, imgfit_codes())

    def test_every_exit_status(self):
        self.assertEqual(set(first_column(section(self.doc, "Exit statuses"))),
                         set(imgfit_exit_statuses().values()))

    def test_every_option_member_and_limit(self):
        for option in sorted(imgfit_options()):
            with self.subTest(option=option):
                self.assertMentions(f"`{option}`", self.doc, "docs/imgfit.md")
        for member in sorted(imgfit_result_members()):
            with self.subTest(member=member):
                self.assertMentions(f"`{member}`", self.doc, "docs/imgfit.md")
        numbers, ladder = imgfit_limits()
        for number in sorted(numbers):
            with self.subTest(limit=number):
                self.assertTrue(number in self.doc or f"{int(number):,}" in self.doc,
                                f"docs/imgfit.md does not mention the limit {number}")
        for quality in ladder:
            with self.subTest(quality=quality):
                self.assertMentions(quality, self.doc, "docs/imgfit.md")


class ReadmeLayout(unittest.TestCase):
    def test_the_layout_table_is_the_build(self):
        rows = {}
        for row in table_rows(section(text(README), "Layout")):
            names = spans(row[0])
            if names and row[0] != "Library":
                rows[names[0]] = (spans(row[1]), set(spans(row[2])))
        targets = build_links()
        self.assertEqual(set(rows), set(targets))
        for name, target in targets.items():
            with self.subTest(target=name):
                folders, links = rows[name]
                self.assertEqual(links, target["links"])
                if target["folder"]:
                    self.assertEqual(folders[0], target["folder"])


class Paths(unittest.TestCase):
    def test_every_mentioned_path_exists(self):
        basenames = {p.name for top in ROOT.iterdir() if not top.name.startswith((".git", "build"))
                     for p in ([top] if top.is_file() else top.rglob("*"))}
        for document in [README, *sorted((ROOT / "docs").glob("*.md"))]:
            paths, names = mentioned_paths(text(document))
            self.assertTrue(paths)
            for path in paths:
                with self.subTest(document=document.name, path=path):
                    self.assertTrue(resolves(path), f"{path} does not exist")
            for name in names:
                with self.subTest(document=document.name, file=name):
                    self.assertIn(name, basenames)


if __name__ == "__main__":
    unittest.main()
