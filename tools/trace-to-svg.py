#!/usr/bin/env python3
"""Draws one bus transaction of a simulator trace (FTSIM_TRACE, a Value Change Dump) as an SVG
waveform: SCL, the SDA line and who pulls SDA low, with the bits, bytes and conditions marked.

Only the trace's own signals are drawn; the time axis counts adapter steps from the transaction's
start condition. Needs nothing but Python 3.

  tools/trace-to-svg.py run.vcd --list                  # number the transactions
  tools/trace-to-svg.py run.vcd --transaction 6 -o read.svg
"""

import argparse
import os
import re
import sys
from xml.sax.saxutils import escape

STEP_PX = 8  # width of one adapter step
ROW_PX = 46  # height of one signal row
LEVEL_PX = 24  # swing of a signal between low and high
LEFT_PX = 110  # room for the signal names
TOP_PX = 40  # room for the decoded row


def read_vcd(path):
    """Returns (step_ps, names, changes): the signal names in declaration order and, per step
    number, the value of every signal after it. The trace counts time in adapter steps and states
    the step period in its header comment; a trace of an older simulator counted picoseconds
    ("one adapter step ... lasts N ps"), and its times are divided by the period."""
    names, code_index, changes = [], {}, []
    step_ps, time_unit_ps = None, None
    current, time = [], None
    in_body = False
    with open(path, encoding="ascii") as vcd:
        for line in vcd:
            words = line.split()
            if not words:
                continue
            if not in_body:
                if words[0] == "$var":
                    code_index[words[3]] = len(names)
                    names.append(words[4])
                elif words[0] == "$comment" and "step" in words and "of" in words:
                    step_ps = int(words[words.index("of") + 1])
                    time_unit_ps = step_ps
                elif words[0] == "$comment" and "lasts" in words:
                    step_ps = int(words[words.index("lasts") + 1])
                    time_unit_ps = 1
                elif words[0] == "$enddefinitions":
                    in_body = True
                    current = [None] * len(names)
                continue
            token = words[0]
            if token.startswith("#"):
                if time is not None:
                    changes.append((time, list(current)))
                time = int(token[1:]) * time_unit_ps // step_ps if step_ps else 0
            elif token[0] in "01" and token[1:] in code_index:
                current[code_index[token[1:]]] = int(token[0])
    if time is not None:
        changes.append((time, list(current)))
    if step_ps is None:
        sys.exit(f"{path}: no step period in the header; is it a simulator trace?")
    return step_ps, names, changes


def to_steps(changes):
    """One sample per step: a list of value lists, index = step number."""
    samples = []
    for step, values in changes:
        while len(samples) < step:
            samples.append(samples[-1] if samples else values)
        if len(samples) == step:
            samples.append(values)
        else:
            samples[step] = values
    return samples


def decode(samples, scl, sda):
    """A small I2C decoder: events (first step, last step, label, kind) and the transactions as
    (first step, last step) from a start on an idle bus to its stop. A bit is sampled on the
    rising edge of SCL and counts when SCL falls again without a start or stop in between."""
    events, transactions = [], []
    busy_since = None
    bits, first_bit, bit_count = 0, None, 0
    sampled = None  # (step, level) while SCL is high
    for i in range(1, len(samples)):
        was, now = samples[i - 1], samples[i]
        if was[scl] and now[scl] and was[sda] and not now[sda]:
            events.append((i, i, "Sr" if busy_since is not None else "S", "cond"))
            if busy_since is None:
                busy_since = i
            bits, first_bit, bit_count, sampled = 0, None, 0, None
        elif was[scl] and now[scl] and not was[sda] and now[sda]:
            events.append((i, i, "P", "cond"))
            if busy_since is not None:
                transactions.append((busy_since, i))
            busy_since, sampled = None, None
        elif busy_since is not None and not was[scl] and now[scl]:
            sampled = (i, now[sda])
        elif was[scl] and not now[scl] and sampled is not None:
            step, bit = sampled
            sampled = None
            bit_count += 1
            if bit_count == 1:
                first_bit = step
            if bit_count <= 8:
                bits = bits * 2 + bit
                events.append((step, step, str(bit), "bit"))
            if bit_count == 8:
                events.append((first_bit - 1, step + 2, f"{bits:02X}", "byte"))
            if bit_count == 9:
                events.append((step - 1, step + 2, "NACK" if bit else "ACK", "ack"))
                bits, first_bit, bit_count = 0, None, 0
    return events, transactions


def draw(samples, names, events, first, last, origin, step_ps, title):
    rows = len(names)
    width = LEFT_PX + (last - first + 1) * STEP_PX + 20
    height = TOP_PX + rows * ROW_PX + 52
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        f'font-family="monospace" font-size="12">',
        f'<rect width="{width}" height="{height}" fill="white"/>',
        f'<text x="8" y="16" font-size="13">{escape(title)}</text>',
    ]

    def x_of(step):
        return LEFT_PX + (step - first) * STEP_PX

    # Decoded row: conditions, bytes and acknowledges above the waveforms.
    for begin, end, label, kind in events:
        if end < first or begin > last or kind == "bit":
            continue
        colour = {"cond": "#b03060", "byte": "#1f5fbf", "ack": "#2e8b57"}[kind]
        if kind == "cond":
            x = x_of(begin)
            out.append(f'<line x1="{x}" y1="{TOP_PX - 12}" x2="{x}" '
                       f'y2="{TOP_PX + rows * ROW_PX}" stroke="{colour}" stroke-dasharray="3,3"/>')
            out.append(f'<text x="{x + 2}" y="{TOP_PX - 4}" fill="{colour}">{label}</text>')
        else:
            x0, x1 = x_of(begin), x_of(end)
            out.append(f'<rect x="{x0}" y="{TOP_PX - 16}" width="{x1 - x0}" height="14" '
                       f'fill="{colour}" fill-opacity="0.15" stroke="{colour}"/>')
            size = 9 if kind == "ack" else 12
            out.append(f'<text x="{(x0 + x1) / 2}" y="{TOP_PX - 5}" fill="{colour}" '
                       f'font-size="{size}" text-anchor="middle">{label}</text>')

    for row, name in enumerate(names):
        base = TOP_PX + row * ROW_PX + ROW_PX - 10
        out.append(f'<text x="8" y="{base - 6}">{escape(name)}</text>')
        points = []
        for step in range(first, last + 1):
            level = samples[step][row]
            y = base - LEVEL_PX * (level if level is not None else 0)
            points.append(f"{x_of(step)},{y}")
            points.append(f"{x_of(step + 1)},{y}")
        colour = "#000000" if row < 2 else "#8a5a00"
        out.append(f'<polyline points="{" ".join(points)}" fill="none" stroke="{colour}" '
                   f'stroke-width="1.6"/>')
        # Bit values, sampled on the rising edge of SCL, under the SDA line.
        if name == "sda":
            for begin, _, label, kind in events:
                if kind == "bit" and first <= begin <= last:
                    out.append(f'<text x="{x_of(begin) + 1}" y="{base + 12}" font-size="10" '
                               f'fill="#555555">{label}</text>')

    axis = TOP_PX + rows * ROW_PX + 12
    out.append(f'<line x1="{LEFT_PX}" y1="{axis}" x2="{x_of(last + 1)}" y2="{axis}" '
               f'stroke="#888888"/>')
    for step in range(origin, last + 2, 10):
        x = x_of(step)
        out.append(f'<line x1="{x}" y1="{axis}" x2="{x}" y2="{axis + 4}" stroke="#888888"/>')
        out.append(f'<text x="{x}" y="{axis + 16}" font-size="10" text-anchor="middle" '
                   f'fill="#555555">{step - origin}</text>')
    out.append(f'<text x="8" y="{axis + 30}" font-size="10" fill="#555555">time in adapter '
               f'steps from the start condition; one step = {step_ps / 1e6:.3f} us</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("trace", help="a trace written with FTSIM_TRACE")
    parser.add_argument("--transaction", type=int, help="number of the transaction to draw")
    parser.add_argument("--list", action="store_true", help="list the transactions and stop")
    parser.add_argument("-o", "--output", help="SVG file (default: standard output)")
    args = parser.parse_args()

    try:
        step_ps, names, changes = read_vcd(args.trace)
    except OSError as error:
        sys.exit(f"{args.trace}: {error.strerror}")
    except (UnicodeDecodeError, ValueError, IndexError):
        sys.exit(f"{args.trace}: not a Value Change Dump of the simulator")
    if "scl" not in names or "sda" not in names:
        sys.exit(f"{args.trace}: no scl and sda signals")
    samples = to_steps(changes)
    events, transactions = decode(samples, names.index("scl"), names.index("sda"))

    if args.list or args.transaction is None:
        for number, (begin, end) in enumerate(transactions, 1):
            labels = [label for b, _, label, kind in events
                      if begin <= b <= end and kind != "bit"]
            # Acknowledge polling repeats one refused poll many times: say it once with a count.
            text = re.sub(r"(Sr \S+ NACK)( \1)+",
                          lambda m: f"{m.group(1)} x{m.group(0).count('Sr')}", " ".join(labels))
            print(f"{number:5} steps {begin}-{end}: {text}")
        return
    if not 1 <= args.transaction <= len(transactions):
        sys.exit(f"there are {len(transactions)} transactions")
    begin, end = transactions[args.transaction - 1]
    first, last = max(0, begin - 3), min(len(samples) - 1, end + 3)
    labels = " ".join(label for b, _, label, kind in events
                      if begin <= b <= end and kind != "bit")
    title = f"transaction {args.transaction}: {labels}"
    svg = draw(samples, names, events, first, last, begin, step_ps, title)
    if args.output:
        try:
            with open(args.output, "w", encoding="ascii") as file:
                file.write(svg)
        except OSError as error:
            sys.exit(f"{args.output}: {error.strerror}")
    else:
        sys.stdout.write(svg)


if __name__ == "__main__":
    try:
        main()
    except BrokenPipeError:
        # The reader went away (--list | head): say nothing more, and keep the interpreter from
        # complaining when it flushes standard output on the way out.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
