"""Draws the goal lines of goals.py runs as a chart, for the README.

    python bench/goals_chart.py [bench/goals-results.txt] [-o bench/goals-chart.png]

Each goal is a group of bars, one per run (interpreter): the measured figure as
a share of its goal (for a goal of at most, the goal over the figure), so 1.0
is the goal and longer is better. Needs matplotlib (a development tool only).
"""

import argparse
import re
from pathlib import Path

BENCH = Path(__file__).resolve().parent
GOAL = re.compile(r"goal  (?P<what>.+?)\s+(?P<value>[\d.]+)(?P<unit>[^(]*?)\s*"
                  r"\(goal (?P<sense><=|>=) (?P<goal>[\d.]+)")
WHEN = re.compile(r"(\d{4}-\d\d-\d\d) (\d\d:\d\d) UTC")


def runs(text):
    """[(interpreter, machine, date, [(what, value, unit, goal, at_most), ...]), ...]
    from the sections that goals.py closes its output with."""
    found = []
    for section in text.split("== goals:")[1:]:
        lines = section.splitlines()
        python = next(line.split(" on ")[0] for line in lines if line.startswith("Python "))
        machine = next(line for line in lines if WHEN.search(line))
        goals = [(match["what"], float(match["value"]), match["unit"].strip(),
                  float(match["goal"]), match["sense"] == "<=")
                 for match in map(GOAL.match, lines) if match]
        found.append((python, machine.split(", load")[0], WHEN.search(machine).group(1), goals))
    return found


def share(value, goal, at_most):
    return goal / value if at_most else value / goal


def draw(found, output):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    names = [what for what, *_ in found[0][3]]
    height = 0.8 / len(found)
    figure, axes = plt.subplots(figsize=(9, 0.55 * len(names) + 1.4), dpi=100)
    for index, (python, _, _, goals) in enumerate(found):
        positions = [row + index * height for row in range(len(names))]
        shares = [share(value, goal, at_most) for _, value, _, goal, at_most in goals]
        bars = axes.barh(positions, shares, height, label=python)
        for bar, (_, value, unit, _, _) in zip(bars, goals):
            axes.text(bar.get_width() + 0.03, bar.get_y() + height / 2,
                      f"{value:g}{'' if unit == 'x' else ' '}{unit}", va="center", fontsize=8)
    axes.axvline(1.0, color="black", linewidth=1)
    axes.set_yticks([row + height * (len(found) - 1) / 2 for row in range(len(names))], names,
                    fontsize=8)
    axes.invert_yaxis()
    axes.set_xlabel("measured / goal (1 = the goal; the goal on memory is a ceiling, so "
                    "goal / measured)")
    _, machine, date, _ = found[0]
    axes.set_title(f"velmar's performance goals, {machine}, {date}", fontsize=10)
    axes.legend(loc="lower right", fontsize=8)
    axes.set_xlim(0, max(share(v, g, m) for *_, goals in found for _, v, _, g, m in goals) * 1.2)
    figure.tight_layout()
    figure.savefig(output)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", nargs="?", type=Path, default=BENCH / "goals-results.txt")
    parser.add_argument("-o", "--output", type=Path, default=BENCH / "goals-chart.png")
    arguments = parser.parse_args()
    found = runs(arguments.results.read_text(encoding="utf-8"))
    if not found:
        parser.error(f"no goals.py results in {arguments.results}")
    draw(found, arguments.output)
    print(f"wrote {arguments.output}")


if __name__ == "__main__":
    main()
