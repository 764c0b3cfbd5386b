#!/usr/bin/env python3
"""Generates a large inventory workspace for timing runs.

Usage: gen-workspace.py DIR [RECORDS] [TOPICS] [GOALS] [--july] [--one-goal]
                        [--body-bytes N]
Records are spread over 2025-2026 (or all put into July 2026 with --july),
several per minute now and then, with topics from a pool and goals (some with
a section) from another. With --one-goal, half the records name the goal 工作
and half the section A of a goal file 学习.md that the workspace already holds.
With --body-bytes N, every record gets a body of about N bytes after its
header lines: lines of Chinese and ASCII text, some blank, drawn from the same
seeded generator (without it, the records are as they always were).
"""
import os
import random
import sys


# Words a body line is made of. None starts a line with a rating label (动,
# 专, 持, 情, 反) or an inventory label, so a body changes no record's fields.
BODY_WORDS = ["会议纪要", "项目进展", "需求评审", "接口设计", "测试用例", "上线计划", "风险",
              "数据迁移", "性能优化", "用户反馈", "文档整理", "复盘", "里程碑", "预算",
              "release", "deploy", "review", "latency", "backlog", "API", "v2.3", "2026",
              "ok", "TODO", "sprint", "metrics", "cache", "index"]


def body_lines(rng, size):
    """Lines of about `size` UTF-8 bytes in all, blank lines among them."""
    lines, total = [], 0
    while total < size:
        if lines and rng.random() < 0.1:
            line = ""
        else:
            words = [rng.choice(BODY_WORDS) for _ in range(rng.randint(3, 16))]
            line = (" " if rng.random() < 0.5 else "").join(words) + rng.choice(["。", ".", "；", ""])
        lines.append(line)
        total += len(line.encode("utf-8")) + 1
    return lines


def main():
    if len(sys.argv) < 2 or "-h" in sys.argv or "--help" in sys.argv:
        print(__doc__.strip())
        sys.exit(0 if len(sys.argv) >= 2 else 2)
    argv = sys.argv[1:]
    body_bytes = 0
    if "--body-bytes" in argv:
        at = argv.index("--body-bytes")
        if at + 1 >= len(argv):
            sys.exit("--body-bytes needs a number of bytes")
        body_bytes = int(argv[at + 1])
        del argv[at:at + 2]
    args = [a for a in argv if not a.startswith("--")]
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
        if body_bytes > 0:
            lines += body_lines(rng, body_bytes) + [""]
        with open(os.path.join(directory, f"{date}-文档{i}.md"), "w", encoding="utf-8") as f:
            f.write("\n".join(lines))


if __name__ == "__main__":
    main()
