"""Shared by the Python benchmarks: a generated TextGrid and a best-of timer."""

import gc
import random
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


def best_times(action, runs, budget=None):
    """Best wall time and best processor time of all threads (the latter is
    steadier on a busy machine) over `runs` runs, or fewer once the wall time
    spent exceeds `budget` seconds."""
    wall = cpu = float("inf")
    spent = 0.0
    for _ in range(runs):
        gc.collect()
        start, start_cpu = time.perf_counter(), time.process_time()
        result = action()  # freed after the clock stops, not timed
        elapsed = time.perf_counter() - start
        wall, cpu = min(wall, elapsed), min(cpu, time.process_time() - start_cpu)
        del result
        spent += elapsed
        if budget is not None and spent > budget:
            break
    return wall, cpu
