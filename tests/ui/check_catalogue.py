"""Fails when the Polish catalogue would leave a text in English.

Runs lupdate over the sources and the forms into a temporary copy of the
catalogue, exactly as the update_catalogue target does, and reports every
entry of the copy that is still in use and has no finished, non-empty
translation: an unfinished entry of the catalogue itself, or a text that the
code or a form shows and the catalogue lacks (lupdate adds it unfinished).

    check_catalogue.py --lupdate PATH --sources DIR --ts FILE
"""

import argparse
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

# Entries that lupdate keeps although no source uses them any more.
OUT_OF_USE = {"vanished", "obsolete"}


def untranslated(ts_file):
    """(context, source, comment, reason) of every entry in use that would
    show in English."""
    problems = []
    root = ET.parse(ts_file).getroot()
    for context in root.iter("context"):
        name = context.findtext("name", "")
        for message in context.iter("message"):
            translation = message.find("translation")
            kind = translation.get("type", "") if translation is not None else ""
            if kind in OUT_OF_USE:
                continue
            source = message.findtext("source", "")
            comment = message.findtext("comment", "")
            if translation is None:
                texts = []
            elif message.get("numerus") == "yes":
                texts = [form.text or "" for form in translation.iter("numerusform")]
            else:
                texts = [translation.text or ""]
            if kind == "unfinished":
                reason = "unfinished" if any(t.strip() for t in texts) else "not in the catalogue"
                problems.append((name, source, comment, reason))
            elif not texts or any(not t.strip() for t in texts):
                problems.append((name, source, comment, "empty translation"))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lupdate", required=True)
    parser.add_argument("--sources", required=True)
    parser.add_argument("--ts", required=True)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        copy = Path(tmp) / Path(args.ts).name
        shutil.copyfile(args.ts, copy)
        # The sources' directory holds the forms too: lupdate must see both,
        # or every form text would count as vanished.
        run = subprocess.run(
            [args.lupdate, "-locations", "none", "-no-obsolete", args.sources, "-ts", str(copy)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            print(run.stdout)
            print("lupdate failed with exit code %d" % run.returncode)
            return 1
        problems = untranslated(copy)

    for context, source, comment, reason in problems:
        print("%s: [%s] %r%s" % (reason, context, source,
                                 " (comment %r)" % comment if comment else ""))
    if problems:
        print("%d text(s) lack a finished Polish translation; run the update_catalogue target and "
              "translate them in %s" % (len(problems), args.ts))
        return 1
    print("catalogue complete")
    return 0


if __name__ == "__main__":
    sys.exit(main())
