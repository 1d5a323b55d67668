"""Shared by the Python benchmarks: a generated TextGrid, a median timer and goal lines."""

import gc
import random
import statistics
import time

# Two non-ASCII phones and an empty one, as real alignments have them.
PHONES = ("AA AE AH AO AW AY B CH D DH EH ER EY F G HH IH IY JH K L M N NG OW OY P R S SH "
          "T TH UH UW V W Y Z ZH ŋ ə").split() + [""]
TONES = ("H*", "L*", "L+H*", "!H*", "H-", "L-", "L-L%", "H-H%")


def make_data(items, seed=7):
    """About `items` words, phones, syllables and tone points covering one long
    recording, as (tmin, tmax, tiers)."""
    rng = random.Random(seed)
    vocabulary = ["".join(rng.choice("abcdefghiklmnoprstuwy") for _ in range(rng.randint(2, 9)))
                  for _ in range(400)]
    n_phones = items * 52 // 100  # the other tiers add about as many again
    phones, words, syllables, tones = [], [], [], []
    t = 0.0
    word_start = syllable_start = 0.0
    phones_left_in_word = rng.randint(2, 6)
    for _ in range(n_phones):
        end = round(t + rng.uniform(0.03, 0.16), 4)
        phones.append((t, end, rng.choice(PHONES)))
        phones_left_in_word -= 1
        if rng.random() < 0.4 or phones_left_in_word == 0:
            syllables.append((syllable_start, end, "s" + str(len(syllables) % 7)))
            syllable_start = end
        if phones_left_in_word == 0:
            words.append((word_start, end, rng.choice(vocabulary)))
            word_start = syllable_start = end
            phones_left_in_word = rng.randint(2, 6)
            if rng.random() < 0.5:
                tones.append((round((words[-1][0] + end) / 2, 4),) * 2 + (rng.choice(TONES),))
        t = end
    if word_start < t:
        words.append((word_start, t, rng.choice(vocabulary)))
    if syllable_start < t:
        syllables.append((syllable_start, t, "s0"))
    tiers = [("words", True, words), ("syllables", True, syllables), ("phones", True, phones),
             ("tones", False, tones)]
    return 0.0, t, tiers


def item_count(tiers):
    return sum(len(items) for _, _, items in tiers)


def _time_once(action):
    gc.collect()
    start, start_cpu = time.perf_counter(), time.process_time()
    result = action()  # freed after the clock stops, not timed
    figures = time.perf_counter() - start, time.process_time() - start_cpu
    del result
    return figures


def _why_not(error):
    if isinstance(error, ImportError):
        return "not installed"
    if isinstance(error, NotImplementedError):
        return "n/a"
    return f"n/a ({type(error).__name__})"


def median_times(actions, runs, budgets=None):
    """Median wall time and median processor time of all threads of each of
    `actions` (name -> callable) over `runs` rounds, after one uncounted round
    that warms up imports and caches. Every round runs each action once in
    turn, so a burst of load from other processes falls on all of them alike
    and ratios between them hold on a busy machine. `budgets` maps a name to
    seconds after which it is not run again (its median then covers fewer
    runs; it is not warmed up). Returns name -> (wall, cpu), or a text saying
    why there is no figure."""
    figures = {name: [] for name in actions}
    failed, spent = {}, dict.fromkeys(actions, 0.0)
    budgets = budgets or {}
    for round_ in range(runs + 1):
        for name, action in actions.items():
            if name in failed or spent[name] > budgets.get(name, float("inf")):
                continue
            if round_ == 0 and name in budgets:
                continue  # too slow to warm up; first-use costs are lost in its time
            try:
                wall, cpu = _time_once(action)
            except BaseException as error:  # PanicException derives from BaseException
                if isinstance(error, KeyboardInterrupt):
                    raise
                failed[name] = _why_not(error)
                continue
            if round_ > 0:  # the first round (imports, first-use caches) is not counted
                figures[name].append((wall, cpu))
                spent[name] += wall
    return {name: failed.get(name) or tuple(statistics.median(column) for column in zip(*runs_))
            for name, runs_ in figures.items()}


def ratio(times, slower, faster, figure=0):
    """How many times faster `faster` ran than `slower` (figure 0: wall time,
    1: processor time), or a text saying why there is no ratio."""
    for name in (faster, slower):
        if isinstance(times[name], str):
            return f"{name}: {times[name]}"
    return times[slower][figure] / times[faster][figure]


def goal_line(what, value, goal, unit="x", at_most=False):
    """One line: what was measured, the figure, the goal and whether it is met."""
    target = f"(goal {'<=' if at_most else '>='} {goal:g}{unit})"
    if isinstance(value, str):
        return f"goal  {what:<48} {'-':>8}{'':<5} {target}  no figure: {value}"
    met = value <= goal if at_most else value >= goal
    return f"goal  {what:<48} {value:>8.2f}{unit:<5} {target}  {'met' if met else 'NOT met'}"
