# SPDX-License-Identifier: GPL-3.0-or-later
# Where MuPDF and pdf.js put each word of a searchable PDF's first page, against where the
# recogniser found it in the picture (a tesseract TSV of the picture as stored;
# the PDF may show it turned).
#     python3 compare.py FILE.pdf WORDS.tsv WIDTH HEIGHT
import os, sys, json, re, difflib, statistics, subprocess
pdf, tsv, W, H = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
truth = []
for line in open(tsv).read().splitlines()[1:]:
    f = line.split('\t')
    if len(f) < 12 or f[0] != '5' or not f[11].strip(): continue
    l, t, w, h = map(int, f[6:10])
    box = (l, t, l + w, t + h)
    truth.append((f[11], box))
q = subprocess.run(['qpdf', '--qdf', '--object-streams=disable', pdf, '-'], capture_output=True).stdout.decode('latin1')
m = list(map(float, re.search(r'([-\d.]+) ([-\d.]+) ([-\d.]+) ([-\d.]+) ([-\d.]+) ([-\d.]+) cm /Im0 Do', q).groups()))
PH = float(re.search(r'/MediaBox \[\s*0\s+0\s+[\d.]+\s+([\d.]+)', q).group(1))
def onPage(x, y):
    u, v = x / W, 1 - y / H
    return m[0]*u + m[2]*v + m[4], PH - (m[1]*u + m[3]*v + m[5])
def placed(b):
    p = [onPage(b[0], b[1]), onPage(b[2], b[3])]
    return (min(p[0][0], p[1][0]), min(p[0][1], p[1][1]), max(p[0][0], p[1][0]), max(p[0][1], p[1][1]))
truth = [(t, placed(b)) for t, b in truth]
def iou(a, b):
    ix = max(0, min(a[2], b[2]) - max(a[0], b[0])); iy = max(0, min(a[3], b[3]) - max(a[1], b[1]))
    u = (a[2]-a[0])*(a[3]-a[1]) + (b[2]-b[0])*(b[3]-b[1]) - ix*iy
    return ix*iy/u if u else 0
def centred(a, b):  # the word's centre inside its highlight
    cx, cy = (b[0]+b[2])/2, (b[1]+b[3])/2
    return a[0] <= cx <= a[2] and a[1] <= cy <= a[3]
def report(name, words, pw, ph):
    a = [t for t, _ in truth]; b = [t for t, _ in words]
    ious, inside, n = [], 0, 0
    for op, i1, i2, j1, j2 in difflib.SequenceMatcher(None, a, b, autojunk=False).get_opcodes():
        if op != 'equal': continue
        for k in range(i2 - i1):
            r = iou(words[j1+k][1], truth[i1+k][1]); ious.append(r); n += 1
            inside += centred(words[j1+k][1], truth[i1+k][1])
    print(f"{name}: {n} of {len(a)} words matched; highlight over the word: median IoU {statistics.median(ious):.2f}, "
          f"lowest {min(ious):.2f}; word's centre inside its highlight {100*inside/n:.1f} %")
# MuPDF
st = subprocess.run(['mutool', 'draw', '-F', 'stext', '-o', '-', pdf], capture_output=True, text=True).stdout
pw, ph = map(float, re.search(r'<page [^>]*width="([\d.]+)" height="([\d.]+)"', st).groups())
words = []
for line in re.findall(r'<line .*?</line>', st, re.S):
    cur, box = '', None
    for q, c in re.findall(r'<char quad="([^"]+)"[^>]* c="([^"]*)"', line):
        v = list(map(float, q.split())); xs, ys = v[0::2], v[1::2]
        c = c.replace('&amp;', '&').replace('&lt;', '<').replace('&gt;', '>').replace('&quot;', '"').replace('&apos;', "'")
        if c == ' ':
            if cur: words.append((cur, box))
            cur, box = '', None; continue
        cur += c
        b = (min(xs), min(ys), max(xs), max(ys))
        box = b if box is None else (min(box[0], b[0]), min(box[1], b[1]), max(box[2], b[2]), max(box[3], b[3]))
    if cur: words.append((cur, box))
report('MuPDF ' + os.path.basename(pdf), words, pw, ph)
for how in ('joined',):
    j = json.loads(subprocess.run(['node', os.path.join(os.path.dirname(os.path.abspath(__file__)), 'textitems.mjs'), pdf, how], capture_output=True, text=True).stdout.strip().splitlines()[-1])
    report('pdf.js ' + os.path.basename(pdf), [(t, tuple(v)) for t, *v in j['items']], j['w'], j['h'])
