"""A user's solver for the campaign tests: random search that takes its time, so that a campaign can be
interrupted part-way."""

import time


def slow_random_search(problem, budget, rng, pause=0.0):
    time.sleep(pause)
    problem.value(rng.uniform(problem.member.lower, problem.member.upper, (budget, problem.dim)))
