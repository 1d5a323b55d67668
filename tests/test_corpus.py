"""Real files from many projects, read by Praat and by velmar. The corpus is kept
beside the repository (../shared/realworld), never in it; without it these
tests skip."""

from pathlib import Path

import pytest

import velmar

from conftest import exact
from praat_support import needs_praat, praat_reads

CORPUS = Path(__file__).resolve().parents[1].parent / "shared" / "realworld" / "corpus"
FILES = sorted(CORPUS.iterdir()) if CORPUS.is_dir() else []
needs_corpus = pytest.mark.skipif(
    not FILES, reason=f"no real-world corpus at {CORPUS} (it is kept beside the repository)")

AGREES = "agrees"
READS_OTHERWISE = "reads otherwise"
READS_WHAT_PRAAT_REFUSES = "reads what Praat refuses"
NOT_UNICODE_TEXT = "refuses: stream did not contain valid UTF-8"

# Every file on which velmar and Praat part, and why that is meant. Any other
# outcome fails the test, a listed file that comes to agree too.
DELIBERATE = {
    # 8-bit encodings (ISO Latin-1, GBK): only UTF-8 and UTF-16 are read, and a
    # file in another encoding is refused rather than guessed at (Praat takes
    # such bytes for ISO Latin-1, which garbles GBK).
    "Qt_speech__test.TextGrid": NOT_UNICODE_TEXT,
    "mytextgrid__tests__files__encodings__text-ISO_Latin_1-LONG.TextGrid": NOT_UNICODE_TEXT,
    "mytextgrid__tests__files__encodings__text-ISO_Latin_1-SHORT.TextGrid": NOT_UNICODE_TEXT,
    "mytextgrid__tests__files__text-linux-iso_latin1.TextGrid": NOT_UNICODE_TEXT,
    # Praat's binary format is not one of the text layouts.
    "mytextgrid__tests__files__Mary_John_bell-1-bin.TextGrid": NOT_UNICODE_TEXT,
    "mytextgrid__tests__files__encodings__text-ISO_Latin_1-BIN.TextGrid": NOT_UNICODE_TEXT,
    "praat__dwtest__TIMIT_train_dr1_fcjf0_sa1_extended.TextGrid": NOT_UNICODE_TEXT,
    # Praat's free layout (several values a line, "!" comments, words between
    # values) and its chronological format: the readers take one value a line.
    "praat__test__fon__examples__sineWithNoise.TextGrid": READS_OTHERWISE,
    "readtextgrid__tests__testthat__test-data__comment.TextGrid": READS_OTHERWISE,
    "readtextgrid__tests__testthat__test-data__hard-to-parse.TextGrid": READS_OTHERWISE,
    "textgrid.hpp__data__human_and_machine_readable.TextGrid": READS_OTHERWISE,
    # Praat's number syntax: "1/2" and "50%", a number followed by letters
    # ("2e1ignored" is 20), "+.0" (undefined). Here a time is a decimal number
    # and nothing else; anything else reads as 0.
    "readtextgrid__tests__testthat__test-data__praat-test__okay-fractions.TextGrid":
        READS_OTHERWISE,
    "readtextgrid__tests__testthat__test-data__praat-test__okay-percents.TextGrid":
        READS_OTHERWISE,
    "readtextgrid__tests__testthat__test-data__praat-test__okay-percents-fractions.TextGrid":
        READS_OTHERWISE,
    "readtextgrid__tests__testthat__test-data__praat-test__okay-real-with-trailing-characters"
    ".TextGrid": READS_OTHERWISE,
    "readtextgrid__tests__testthat__test-data__praat-test__fail-space-plus-dot-digit.TextGrid":
        READS_OTHERWISE,
    # An interval tier without intervals: Praat gives it one empty interval over
    # the whole tier; here it stays as the file has it, and is written back so.
    "praatIO__tutorials__empty_textgrid.TextGrid": READS_OTHERWISE,
    "textgrid__tests__data__short_format.TextGrid": READS_OTHERWISE,
    # Praat refuses flaws in lines the readers never look at, or do not look at
    # so closely: a malformed "tiers? <exists>" line, a label with text before
    # its opening or after its closing quote, a number without a digit before
    # its point (".0"), a file that ends after a tier's bounds (its item count
    # reads as 0). Strict reading checks counts and times, not these.
    "praat__test__fon__texio__texio4.TextGrid": READS_WHAT_PRAAT_REFUSES,
    "praat__test__fon__texio__texio12.TextGrid": READS_WHAT_PRAAT_REFUSES,
    "praat__test__fon__texio__texio18.TextGrid": READS_WHAT_PRAAT_REFUSES,
    "praat__test__fon__texio__texio19.TextGrid": READS_WHAT_PRAAT_REFUSES,
    "praat__test__fon__texio__texio20.TextGrid": READS_WHAT_PRAAT_REFUSES,
    "praat__test__fon__texio__texio5.TextGrid": READS_WHAT_PRAAT_REFUSES,
    "praat__test__fon__texio__texio15.TextGrid": READS_WHAT_PRAAT_REFUSES,
    "praat__test__fon__texio__texio9.TextGrid": READS_WHAT_PRAAT_REFUSES,
    "readtextgrid__tests__testthat__test-data__praat-test__fail-space-dot-digit.TextGrid":
        READS_WHAT_PRAAT_REFUSES,
}


def read(path, strict):
    """textgrid2data in auto mode, or the reason it refuses the file."""
    try:
        return velmar.textgrid2data(str(path), strict, "auto")
    except OSError as error:
        return "refuses: " + str(error).split(" because: ", 1)[1]


def outcome(praat, lenient, strict):
    """How velmar's reading compares with Praat's (None: Praat refuses). Strict
    reading may refuse what breaks its rules, which Praat does not have, but
    whatever it reads is what lenient reading reads."""
    if not isinstance(strict, str) and exact(strict) != exact(lenient):
        return "strict reads otherwise"
    if praat is None:
        return AGREES if isinstance(strict, str) else READS_WHAT_PRAAT_REFUSES
    if isinstance(lenient, str):
        return lenient
    return AGREES if exact(lenient) == exact(praat) else READS_OTHERWISE


@needs_corpus
@needs_praat
def test_every_file_reads_as_praat_reads_it_or_differs_as_listed(tmp_path):
    praat = praat_reads(FILES, tmp_path / "files.txt")
    found = {path.name: outcome(praat[str(path)], read(path, False), read(path, True))
             for path in FILES}
    expected = {name: DELIBERATE.get(name, AGREES) for name in found}
    wrong = {name: f"{found[name]} (expected: {expected[name]})"
             for name in found if found[name] != expected[name]}
    assert wrong == {}
    assert set(DELIBERATE) <= set(found), "listed files missing from the corpus"


@needs_corpus
@pytest.mark.parametrize("strict", [False, True])
def test_reading_the_corpus_at_once_gives_the_single_reads(strict):
    empty = (0.0, 0.0, [])
    single = [read(path, strict) for path in FILES]
    single = [empty if isinstance(data, str) else data for data in single]
    assert exact(velmar.textgrids2data([str(path) for path in FILES], strict, "auto")) == \
        exact(single)
