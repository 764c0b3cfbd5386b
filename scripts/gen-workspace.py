#!/usr/bin/env python3
"""Generates a large inventory workspace for timing runs.

Usage: gen-workspace.py DIR [RECORDS] [TOPICS] [GOALS] [--july] [--one-goal]
Records are spread over 2025-2026 (or all put into July 2026 with --july),
several per minute now and then, with topics from a pool and goals (some with
a section) from another. With --one-goal, half the records name the goal 工作
and half the section A of a goal file 学习.md that the workspace already holds.
"""
import os
import random
import sys


def main():
    if len(sys.argv) < 2 or "-h" in sys.argv or "--help" in sys.argv:
        print(__doc__.strip())
        sys.exit(0 if len(sys.argv) >= 2 else 2)
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    july_only = "--july" in sys.argv
    one_goal = "--one-goal" in sys.argv
    out = args[0]
    records = int(args[1]) if len(args) > 1 else 100_000
    topics = int(args[2]) if len(args) > 2 else 3_000
    goals = int(args[3]) if len(args) > 3 else 40
    rng = random.Random(42)
    topic_names = [f"主题{i:04d}" for i in range(topics)]
    goal_names = [f"目标{i:02d}" for i in range(goals)]
    goal_names += [f"{goal_names[i]}/阶段{i}" for i in range(0, goals, 5)]
    if one_goal:
        goal_names = ["工作", "学习/A"]
        os.makedirs(os.path.join(out, ".system", "goals"), exist_ok=True)
        with open(os.path.join(out, ".system", "goals", "学习.md"), "w", encoding="utf-8") as f:
            f.write("# 学习\n## A\n## B\n")
    for i in range(records):
        if july_only:
            year, month, day = 2026, 7, rng.randint(1, 31)
        else:
            year = rng.choice([2025, 2026])
            month = rng.randint(1, 12)
            day = rng.randint(1, 28)
        hour, minute = rng.randint(6, 22), rng.randint(0, 59)
        date = f"{year:04d}-{month:02d}-{day:02d}"
        directory = os.path.join(out, f"{year:04d}", f"{month:02d}")
        os.makedirs(directory, exist_ok=True)
        topic = rng.choice(topic_names)
        sep = rng.choice(["\\", "/"])
        goal = goal_names[i % 2] if one_goal else rng.choice(goal_names)
        lines = [f"# 文档{i}", "", f"## {hour:02d}:{minute:02d}", f"原始文件：文档{i}.docx",
                 f"相对路径：资料{sep}{topic}{sep}文档{i}.docx", f"分类：{goal}", ""]
        with open(os.path.join(directory, f"{date}-文档{i}.md"), "w", encoding="utf-8") as f:
            f.write("\n".join(lines))


if __name__ == "__main__":
    main()
