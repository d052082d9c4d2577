"""mint.html in Debian's Chromium, headless: the page picks a generated file
with hostile lines (and real-looking exports), runs, and its download (and
report) must equal mintbatch --by-name's on the same file with the same
options, byte for byte; no request may leave the
page; every control must be named in the accessibility tree and work from
the keyboard.

usage: page_test.py --page=mint.html --mintbatch=PATH --generate=PATH [unittest options]
"""
import argparse
import pathlib
import subprocess
import sys
import tempfile
import unittest

from selenium.webdriver.common.by import By

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from mint_page import Browser, ProxyTrap  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402

ARGS = None
KEY = "00112233445566778899aabbccddeeff" "0123456789ABCDEF0123456789abcdef\n"
# Small parts, so that a small file crosses many part edges, at odd places.
PART_SIZE = 4099


def hostile_file(generated):
    """The generated records with lines that are hard to read between them:
    every line end, blank, short and keyless lines, quotes, bytes that are
    not UTF-8, a zero byte, markup, a line too long to parse, and no line
    end at the very end."""
    lines = generated.split(b"\n")
    header, records = lines[0], [line for line in lines[1:] if line]
    hostile = [
        b"",
        b"\r",
        b'7001,"O""Brien, Mary",123456789,2,1970,1,2,,,,,,',
        b'7002,"<script>alert(1)</script>",123456789,1,1970,1,2,,,,,,',
        b"7003,Smith;John;123456789;1;1970;1;2",
        b"7004,short,123456789",
        b'"7005,unclosed,123456789,1,1970,1,2,,,,,,',
        b"7006,\xff\xfe\x80 bytes,123456789,1,1970,1,2,,,,,,",
        b"7007,zero\x00byte,123456789,1,1970,1,2,,,,,,",
        b",no key,123456789,1,1970,1,2,,,,,,",
        b"7008," + b"x" * 100_000 + b",123456789,1,1970,1,2,,,,,,",
        b"7009,Doe John,12345678,1,1970,13,2,,,,,,",
        b"7010,Doe John,123 45 6789,1,1970,1,2,Doe Jane,987654321,2,1971,3,4",
    ]
    out = [b"\xef\xbb\xbf" + header]
    for i, record in enumerate(records):
        out.append(record)
        if i % 97 == 0:
            out.append(hostile[(i // 97) % len(hostile)])
    text = b"\n".join(out)
    # Other line ends in places, and no line end at the end.
    text = text.replace(b",,,,,,\n1000", b",,,,,,\r\n1000").replace(b",,,,,,\n1001", b",,,,,,\r1001")
    return text


def quoted_breaks_file(generated, long_notes=False):
    """The generated records, read by name, with a notes column whose quoted
    values hold delimiters, quotes and line breaks of every kind, so that
    records span lines across the page's part edges (some of them longer
    than a part, with `long_notes`)."""
    lines = [line for line in generated.split(b"\n") if line]
    notes = [b"", b'"line one\nline two"', b'"a, b\r\nc ""d"""', b'"\n\n"', b"plain", b'"x\ry"']
    if long_notes:
        notes.append(b'"' + b"a long note,\nover lines; " * 300 + b'"')
    out = [lines[0] + b",notes"]
    for i, record in enumerate(lines[1:]):
        out.append(record + b"," + notes[i % len(notes)])
    return b"\r\n".join(out) + b"\r\n"


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="mint-page-test."))
        generated = subprocess.run([ARGS.generate, "3000", "7"], check=True, capture_output=True).stdout
        cls.input = cls.scratch / "patients.csv"
        cls.input.write_bytes(hostile_file(generated))
        cls.key = cls.scratch / "project.key"
        cls.key.write_text(KEY)
        cls.key.chmod(0o600)
        cls.bad_key = cls.scratch / "bad.key"
        cls.bad_key.write_text(KEY[:33])
        cls.downloads = cls.scratch / "downloads"
        cls.downloads.mkdir()
        cls.trap = ProxyTrap()
        cls.browser = Browser(cls.downloads, cls.trap.port)
        cls.url = cls.browser.open(ARGS.page, f"#part-size={PART_SIZE}")
        cls.browser.choose_file(cls.input)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.trap.close()

    def mintbatch(self, options):
        out = self.scratch / "expected.csv"
        run = subprocess.run([ARGS.mintbatch, "-j", "1", "--by-name", *options, str(self.input), str(out)],
                             capture_output=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        return out.read_bytes()

    def run_page(self):
        error = self.browser.run()
        self.assertEqual(error, "")
        path = self.browser.download("download-output")
        data = path.read_bytes()
        path.unlink()
        return data

    def test_downloads_equal_mintbatch(self):
        b = self.browser
        # The output choice is made through its dropdown, keyed and not.
        for output, key, options in [
            ("0", None, []),
            ("2", None, ["--key-only"]),
            ("0", self.key, ["--key-file", str(self.key)]),
            ("2", self.key, ["--key-only", "--key-file", str(self.key)]),
        ]:
            with self.subTest(output=output, keyed=key is not None):
                b.select("output", output)
                if key:
                    b.choose_key(key)
                    self.assertIn("Keyed identifiers", b.element("key-status").text)
                else:
                    if b.element("key-clear").is_displayed():
                        b.element("key-clear").click()
                expected = self.mintbatch(options)
                self.assertEqual(self.run_page(), expected)
                self.assertEqual(b.element("download-output").get_attribute("download"),
                                 "patients-mint.csv" if output == "0" else "patients-keys.csv")
        if b.element("key-clear").is_displayed():
            b.element("key-clear").click()
        b.select("output", "0")

    def test_summary_counts(self):
        self.run_page()
        verbose = subprocess.run([ARGS.mintbatch, "-v", "-j", "1", "--by-name", str(self.input), str(self.scratch / "v.csv")],
                                 capture_output=True, check=True).stdout.decode("latin-1")
        summary = verbose.strip().splitlines()[-1]
        counts = [self.browser.element(i).text.replace(",", "")
                  for i in ("count-identified", "count-refused", "count-skipped")]
        self.assertEqual(summary, f"Processed {counts[0]} records, ignored {counts[1]} bad records, "
                                  f"discarded {counts[2]} bad lines.")

    def test_mapping_dropdown(self):
        b = self.browser
        # The dropdowns start where the by-name rules put the fields.
        self.assertEqual(Select(b.element("map-patient_ssn")).first_selected_option.get_attribute("value"), "2")
        # The SSN moved to the gender's column: one column for two fields,
        # which the engine says next to the dropdown, and Run waits.
        b.select("map-patient_ssn", "3")
        problem = b.element("map-patient_ssn-problem")
        b.wait(lambda d: problem.is_displayed())
        self.assertIn("patient_gender", problem.text)
        self.assertFalse(b.element("run").is_enabled())
        b.select("map-patient_ssn", "2")
        b.wait(lambda d: not problem.is_displayed())
        self.assertTrue(b.element("run").is_enabled())
        # A field the rules found a column for cannot be left without one
        # (mintbatch cannot either); one they found none for can.
        def no_column(field):
            return Select(b.element("map-" + field)).options[0]
        self.assertEqual(no_column("patient_ssn").get_attribute("value"), "-1")
        self.assertFalse(no_column("patient_ssn").is_enabled())
        self.assertTrue(no_column("patient_birth_date").is_enabled())
        self.assertTrue(no_column("patient_birth_date").is_selected())

    def test_bad_key_is_said_next_to_it(self):
        b = self.browser
        b.choose_key(self.bad_key)
        # The other tests start from no key, whatever happens here.
        self.addCleanup(lambda: b.element("key-clear").is_displayed() and b.element("key-clear").click())
        message = b.element("key-error").text
        cli = subprocess.run([ARGS.mintbatch, "--key-file", str(self.bad_key), str(self.input), "/dev/null"],
                             capture_output=True).stderr.decode()
        reason = cli.split("is not a key: ", 1)[1].strip()
        self.assertEqual(message, f'The key file "bad.key" is not a key: {reason}')
        self.assertFalse(b.element("run").is_enabled())
        b.element("key-clear").click()
        self.assertTrue(b.element("run").is_enabled())

    def test_cancel(self):
        b = self.browser
        # Both clicks in one turn of the page: the run cannot finish between.
        b.driver.execute_script("document.getElementById('run').click(); document.getElementById('cancel').click();")
        self.assertIn("Cancelled", b.element("run-error").text)
        self.assertFalse(b.element("result").is_displayed())
        b.wait(lambda d: b.element("run").is_enabled(), 30)
        self.assertEqual(self.run_page(), self.mintbatch([]))

    def test_no_request_leaves_the_page(self):
        self.run_page()
        # The policy stops a request from the page and from a worker alike.
        probe = f"http://127.0.0.1:{self.trap.port}/probe"
        outcome = self.browser.driver.execute_async_script("""
            const [probe, done] = arguments;
            const results = [];
            fetch(probe).then(() => results.push('page fetched'), () => results.push('page refused'))
              .then(() => {
                try {
                  const source = `fetch(${JSON.stringify(probe)}).then(() => postMessage('worker fetched'),
                                                           () => postMessage('worker refused'))`;
                  const worker = new Worker(URL.createObjectURL(new Blob([source])));
                  worker.onmessage = (e) => { results.push(e.data); done(results); };
                } catch (e) { results.push('no worker'); done(results); }
              });
        """, probe)
        self.assertEqual(outcome, ["page refused", "worker refused"])
        page_requests = self.browser.network_requests()
        for url in page_requests:
            self.assertTrue(url == self.url.split("#")[0] or url.startswith("blob:"), url)
        # Chromium's own services (updates, time) may call out; nothing else may.
        own = ("google.com", "googleapis.com", "gstatic.com", "gvt1.com")
        mine = [r for r in self.trap.requests if not any(host in r.split(" ")[1] for host in own)]
        self.assertEqual(mine, [])

    def test_every_control_named_and_keyboard(self):
        b = self.browser
        missing, named = b.unnamed_controls()
        self.assertEqual(missing, [])
        self.assertGreaterEqual(named, 20)
        # Tabbing reaches the controls, with a visible focus.
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        b.driver.execute_script("document.activeElement.blur(); window.scrollTo(0, 0);")
        reached = set()
        for _ in range(60):
            ActionChains(b.driver).send_keys(Keys.TAB).perform()
            focused = b.driver.execute_script("""
                const e = document.activeElement, s = getComputedStyle(e);
                return [e.tagName, e.id, s.outlineStyle, s.outlineWidth];""")
            if focused[0] == "BODY":
                continue
            reached.add(focused[1])
            self.assertNotEqual(focused[2], "none", focused)
        for control in ("file", "map-patient_name", "output", "key", "run"):
            self.assertIn(control, reached)

    def test_narrow_window(self):
        b = self.browser
        size = b.driver.get_window_size()
        try:
            # 400 CSS pixels wide: a phone, or a laptop window at 200% zoom.
            b.driver.set_window_size(400, 800)
            overflow = b.driver.execute_script(
                "return document.documentElement.scrollWidth - document.documentElement.clientWidth")
            self.assertLessEqual(overflow, 0)
        finally:
            b.driver.set_window_size(size["width"], size["height"])


class NamedExportsTest(unittest.TestCase):
    """Real-looking exports and a file whose records span lines, read by
    name: the page, with its options and one mapping changed through a
    dropdown, gives mintbatch --by-name's output and report."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="mint-page-named."))
        cases = pathlib.Path(__file__).resolve().parent.parent / "batch" / "named_cases"
        generated = subprocess.run([ARGS.generate, "1500", "11"], check=True, capture_output=True).stdout
        cls.generated = generated
        cls.spanning = cls.scratch / "spanning.csv"
        cls.spanning.write_bytes(quoted_breaks_file(generated))
        cls.semicolons = cases / "semicolon_ssn_dob_sex" / "export.csv"
        cls.tabs = cases / "tabs_bom_iso_dates" / "export.tsv"
        cls.breaks = cases / "quoted_line_breaks" / "export.csv"
        cls.key = cls.scratch / "project.key"
        cls.key.write_text(KEY)
        cls.key.chmod(0o600)
        cls.downloads = cls.scratch / "downloads"
        cls.downloads.mkdir()
        cls.browser = Browser(cls.downloads)
        cls.browser.open(ARGS.page, f"#part-size={PART_SIZE}")

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()

    def mintbatch(self, path, options):
        out = self.scratch / "expected.csv"
        report = self.scratch / "expected.report.csv"
        run = subprocess.run([ARGS.mintbatch, "-j", "1", "--by-name", "--report", str(report), *options, str(path),
                              str(out)], capture_output=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        return out.read_bytes(), report.read_bytes()

    def page(self, path, mapping, date_format, genders, output, keyed, choose=None):
        b = self.browser
        (choose or b.choose_file)(path)
        for field, column in mapping.items():
            b.select("map-" + field, column)
        b.select("date-format", date_format)
        for box, code in zip(("gender-1", "gender-2"), genders):
            b.element(box).clear()
            b.element(box).send_keys(code)
        b.select("output", output)
        if not b.element("report").is_selected():
            b.element("report").click()
        if keyed:
            b.choose_key(self.key)
        elif b.element("key-clear").is_displayed():
            b.element("key-clear").click()
        b.wait(lambda d: b.element("run").is_enabled(), 30)
        self.assertEqual(b.run(), "")
        results = []
        for link in ("download-output", "download-report"):
            path = b.download(link)
            results.append(path.read_bytes())
            path.unlink()
        return tuple(results)

    def test_downloads_equal_mintbatch_by_name(self):
        outputs = {"0": [], "1": ["--drop-identifying"], "2": ["--key-only"]}
        cases = [
            # Semicolons, DD.MM.YYYY and M/F, every field mapped through the dropdowns.
            (self.semicolons, {"data_record": "0", "patient_name": "1", "patient_ssn": "2", "patient_gender": "3",
                               "patient_birth_date": "4"}, "%d.%m.%Y", ("M", "F"), "0", False,
             ["--map", "data_record=PatientID,patient_name=Name,patient_ssn=SSN,patient_gender=Sex,"
                       "patient_birth_date=DOB", "--date-format", "%d.%m.%Y", "--gender-values", "M=1,F=2"]),
            # Tabs, a byte order mark and CR LF, without the identifying columns.
            (self.tabs, {}, "%Y-%m-%d", ("", ""), "1", True, []),
            (self.breaks, {}, "%Y-%m-%d", ("", ""), "2", True, []),
            # Records spanning lines across many parts.
            (self.spanning, {"data_record": "13"}, "%Y-%m-%d", ("", ""), "0", False,
             ["--map", "data_record=notes"]),
            # data_record back where the rules put it: no --map.
            (self.spanning, {"data_record": "0"}, "%Y-%m-%d", ("", ""), "2", True, []),
        ]
        for path, mapping, date_format, genders, output, keyed, options in cases:
            with self.subTest(file=path.name, output=output, keyed=keyed):
                more = outputs[output] + (["--key-file", str(self.key)] if keyed else [])
                expected = self.mintbatch(path, options + more)
                self.assertEqual(self.page(path, mapping, date_format, genders, output, keyed), expected)

    def test_framing_rare_ways(self):
        # Parts longer than the slice read for them (records longer than the
        # margin, put together from slices), and longer than the page holds
        # (handed to their worker as ranges of the file): made to happen on
        # a small file through the address.
        b = self.browser
        long_notes = self.scratch / "long-notes.csv"
        long_notes.write_bytes(quoted_breaks_file(self.generated, long_notes=True))
        try:
            for fragment in ("&frame-margin=10", "&frame-margin=10&held-most=6000"):
                b.open(ARGS.page, f"#part-size={PART_SIZE}{fragment}")
                for path in (self.spanning, long_notes):
                    with self.subTest(fragment=fragment, file=path.name):
                        expected = self.mintbatch(path, [])
                        self.assertEqual(self.page(path, {}, "%Y-%m-%d", ("", ""), "0", False), expected)
        finally:
            b.open(ARGS.page, f"#part-size={PART_SIZE}")

    def test_memory_bounded(self):
        # The page holds a few parts of the file and a little of the result
        # at once, whatever the file's size: here 1 MiB parts and a 2 MiB
        # queue for the result, on a file of 30 MB (the page's own count of
        # what it holds; a 1 GB file is for the benchmark's machine).
        b = self.browser
        big = self.scratch / "big.csv"
        with open(big, "wb") as out:
            subprocess.run([ARGS.generate, "560000", "5"], stdout=out, check=True)
        try:
            # One worker: the framing can run ahead of it, as far as it is let.
            b.open(ARGS.page, "#part-size=1048576&result-queue=2097152&workers=1")
            expected = self.mintbatch(big, [])
            self.assertEqual(self.page(big, {}, "%Y-%m-%d", ("", ""), "0", False), expected)
            held = int(b.element("result").get_attribute("data-most-held"))
            self.assertGreater(held, 1 << 20)
            self.assertLessEqual(held, 10 << 20, f"{held} bytes held at once, of a {big.stat().st_size}-byte file")
        finally:
            big.unlink()
            b.open(ARGS.page, f"#part-size={PART_SIZE}")

    def drop_file(self, path):
        """Drops the file on the page, as the browser hands a drop over: a
        DataTransfer that holds it (taken from a second file input)."""
        b = self.browser
        summary = b.element("file-summary").text
        b.driver.execute_script("""
            const input = document.createElement('input');
            input.type = 'file';
            input.id = 'drop-source';
            document.body.append(input);""")
        b.element("drop-source").send_keys(str(path.resolve()))
        b.driver.execute_script("""
            const data = new DataTransfer();
            data.items.add(document.getElementById('drop-source').files[0]);
            const zone = document.getElementById('drop');
            for (const type of ['dragenter', 'dragover', 'drop']) {
              zone.dispatchEvent(new DragEvent(type, {dataTransfer: data, bubbles: true, cancelable: true}));
            }
            document.getElementById('drop-source').remove();""")
        b.wait(lambda d: b.element("file-summary").text not in ("", summary))
        self.assertNotIn("over", b.element("drop").get_attribute("class"))

    def test_dropped_file(self):
        self.browser.choose_file(self.breaks)
        options = ["--map", "data_record=PatientID,patient_name=Name,patient_ssn=SSN,patient_gender=Sex,"
                   "patient_birth_date=DOB", "--date-format", "%d.%m.%Y", "--gender-values", "M=1,F=2", "--key-only"]
        expected = self.mintbatch(self.semicolons, options)
        mapping = {"data_record": "0", "patient_name": "1", "patient_ssn": "2", "patient_gender": "3",
                   "patient_birth_date": "4"}
        got = self.page(self.semicolons, mapping, "%d.%m.%Y", ("M", "F"), "2", False, choose=self.drop_file)
        self.assertIn(self.semicolons.name, self.browser.element("file-summary").text)
        self.assertEqual(got, expected)

    def test_header_shows_delimiter_and_mapping(self):
        b = self.browser
        b.choose_file(self.semicolons)
        self.assertIn("semicolon", b.element("delimiter-found").text)
        # No column is named patient_name: the engine says so, Run waits.
        b.wait(lambda d: b.element("map-patient_name-problem").is_displayed()
               or b.element("mapping-error").is_displayed())
        self.assertFalse(b.element("run").is_enabled())
        columns = [o.text for o in b.element("map-patient_name").find_elements(By.TAG_NAME, "option")]
        self.assertEqual(columns[1:3], ["Column 1: PatientID", "Column 2: Name"])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--page", required=True)
    parser.add_argument("--mintbatch", required=True)
    parser.add_argument("--generate", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
