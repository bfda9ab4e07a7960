"""The signature tool builds the resource from the readable list and decodes it
back, byte for byte and line for line."""
import os
import unittest

import signature_list as sl

SOURCE = os.path.join(os.environ.get("PONDO_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..")),
                      "companion", "win32", "signatures.txt")


def records_of(text):
    return [l for l in text.splitlines() if l.strip() and not l.startswith("#")]


class RoundTrip(unittest.TestCase):
    def test_shipped_list_round_trips(self):
        with open(SOURCE, encoding="latin-1") as f:
            text = f.read()
        resource = sl.build(text)
        self.assertEqual(resource[:16], sl.HEADER)
        self.assertEqual(len(resource), 16 + 27 * 133)
        decoded = sl.decode(resource)
        self.assertEqual(records_of(decoded), [" ".join(l.split()) for l in records_of(text)])
        self.assertEqual(sl.build(decoded), resource)

    def test_records_are_stored_scrambled(self):
        resource = sl.build('version company="Abc" internal="tool" original="" product="Tool"')
        self.assertNotIn(b"Abc", resource)
        record = sl.swap(resource[16:])
        self.assertEqual(record[0], 1)
        self.assertEqual(record[1:4], b"Abc")
        self.assertEqual(record[33], 3)     # lengths written from the texts
        self.assertEqual(record[66], 4)
        self.assertEqual(record[99], 0)

    def test_odd_records_round_trip_as_raw(self):
        odd = bytearray(133)
        odd[0] = 7                           # a kind that never matches
        odd[5] = 0x41
        junk = bytearray(sl.swap(sl.build('window title="A" flags=title')[16:]))
        junk[20] = 0x42                      # a byte after the title's end
        resource = sl.HEADER + sl.swap(bytes(odd)) + sl.swap(bytes(junk))
        decoded = sl.decode(resource)
        self.assertEqual(len(records_of(decoded)), 2)
        self.assertTrue(all(l.startswith("raw ") for l in records_of(decoded)))
        self.assertEqual(sl.build(decoded), resource)

    def test_bad_input_is_refused(self):
        for text in ('window title="' + "x" * 32 + '"',      # no room for the terminator
                     'window colour="red"',
                     'gadget title="x"',
                     'window flags=title,sideways',
                     'raw hex=00'):
            with self.subTest(text=text), self.assertRaises(sl.ListError):
                sl.build(text)
        for resource in (b"short", b"\0" * 16, sl.HEADER + b"\0" * 50):
            with self.subTest(resource=resource[:20]), self.assertRaises(sl.ListError):
                sl.decode(resource)


if __name__ == "__main__":
    unittest.main()
