import pytest

LONG_TEXTGRID = """File type = "ooTextFile"
Object class = "TextGrid"

xmin = 0
xmax = 2.5
tiers? <exists>
size = 2
item []:
    item [1]:
        class = "IntervalTier"
        name = "words"
        xmin = 0
        xmax = 2.5
        intervals: size = 2
        intervals [1]:
            xmin = 0
            xmax = 1
            text = "hello"
        intervals [2]:
            xmin = 1
            xmax = 2.5
            text = "wörld"
    item [2]:
        class = "TextTier"
        name = "marks"
        xmin = 0
        xmax = 2.5
        points: size = 1
        points [1]:
            number = 1.5
            mark = "p"
"""

SAMPLE_DATA = (
    0.0,
    2.5,
    [
        ("words", True, [(0.0, 1.0, "hello"), (1.0, 2.5, "wörld")]),
        ("marks", False, [(1.5, 1.5, "p")]),
    ],
)


@pytest.fixture
def textgrid_file(tmp_path):
    """A small long-layout TextGrid written by hand; SAMPLE_DATA is its content."""
    path = tmp_path / "sample.TextGrid"
    path.write_text(LONG_TEXTGRID, encoding="utf-8")
    return str(path)


@pytest.fixture
def out_file(tmp_path):
    return str(tmp_path / "out.TextGrid")
