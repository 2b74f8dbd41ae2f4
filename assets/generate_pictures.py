#!/usr/bin/env python3
"""Writes the program's own SVG artwork into assets/pictures/.

Run by hand after changing a drawing; the SVG files are committed and compiled into the
program with the Qt resource system. Pictures:
  logo1..logo6      390 x 130  product logo with the edition name of model 1..6
  photo00..photo19  410 x 260  pedal sets: 0-9 grey base plate, 10-19 black;
                               per ten: 0-5 two-pedal models 1-6, 6-9 three-pedal models 1-4
  calibration3/2    410 x 260  three- and two-pedal set on a transparent background, no
                               pedal highlighted (the wizard's arrows mark the pedals)
  stripe            1299 x 44  thin orange lines
  backdrop          820 x 560  dark race track (the area the PRO and CUSTOM pages open in)
  mode_pro, mode_sport         the mode words
  arrow_down, arrow_up         60 x 100
  list_arrow                   10 x 6    (the drop-down lists' arrow)
  check_mark                   12 x 10   (a ticked check box)
  icon              16 x 16    window icon
"""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pictures")
EDITIONS = ["ALDER", "BIRCH", "CEDAR", "DOGWOOD", "ELM", "FIR"]
ACCENT = ["#e8731c", "#2a9d8f", "#c0392b", "#8e44ad", "#2e86de", "#b7950b"]
PEDAL_SHAPES = ["rect", "round", "tall", "wide", "slot", "hex"]


def write(name, width, height, body):
    with open(os.path.join(OUT, name + ".svg"), "w", encoding="utf-8") as f:
        f.write(f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
                f'viewBox="0 0 {width} {height}">\n{body}\n</svg>\n')


def text(x, y, size, content, fill, weight="bold", anchor="middle", extra=""):
    return (f'<text x="{x}" y="{y}" font-family="Liberation Sans, Arial, sans-serif" '
            f'font-size="{size}" font-weight="{weight}" fill="{fill}" text-anchor="{anchor}" {extra}>'
            f'{content}</text>')


def logo(model):
    a = ACCENT[model]
    return "\n".join([
        '<rect width="390" height="130" rx="14" fill="#16181c"/>',
        f'<rect x="8" y="8" width="374" height="114" rx="10" fill="none" stroke="{a}" stroke-width="3"/>',
        f'<path d="M28 95 L58 35 L88 95 Z" fill="{a}"/>',
        text(112, 72, 46, "TKB", "#ffffff", anchor="start"),
        text(214, 72, 24, "TUNEDECK", "#cfd3da", anchor="start"),
        f'<rect x="112" y="84" width="250" height="2" fill="{a}"/>',
        text(112, 112, 22, EDITIONS[model] + " EDITION", a, anchor="start"),
    ])


def pedal(x, base_y, model, face, label):
    shape = PEDAL_SHAPES[model]
    arm = f'<rect x="{x + 27}" y="{base_y - 150}" width="10" height="150" fill="#5b5f66"/>'
    if shape == "rect":
        p = f'<rect x="{x}" y="{base_y - 200}" width="64" height="90" rx="4" fill="{face}"/>'
    elif shape == "round":
        p = f'<rect x="{x}" y="{base_y - 200}" width="64" height="90" rx="26" fill="{face}"/>'
    elif shape == "tall":
        p = f'<rect x="{x + 6}" y="{base_y - 215}" width="52" height="115" rx="6" fill="{face}"/>'
    elif shape == "wide":
        p = f'<rect x="{x - 6}" y="{base_y - 190}" width="76" height="72" rx="8" fill="{face}"/>'
    elif shape == "slot":
        p = (f'<rect x="{x}" y="{base_y - 200}" width="64" height="90" rx="4" fill="{face}"/>'
             f'<rect x="{x + 12}" y="{base_y - 185}" width="40" height="8" rx="4" fill="#ffffff" opacity="0.6"/>'
             f'<rect x="{x + 12}" y="{base_y - 160}" width="40" height="8" rx="4" fill="#ffffff" opacity="0.6"/>')
    else:
        cx, cy = x + 32, base_y - 155
        pts = " ".join(f"{cx + dx},{cy + dy}" for dx, dy in
                       [(-32, -22), (0, -48), (32, -22), (32, 22), (0, 48), (-32, 22)])
        p = f'<polygon points="{pts}" fill="{face}"/>'
    return arm + p + text(x + 32, base_y - 149, 18, label, "#ffffff")


def pedal_set(model, black, clutch, background, highlight_brake=True):
    plate = "#1d1d1f" if black else "#8a8d91"
    a = ACCENT[model]
    parts = []
    if background:
        parts.append('<rect width="410" height="260" fill="#ffffff"/>')
    parts.append(f'<rect x="25" y="200" width="360" height="40" rx="8" fill="{plate}"/>')
    parts.append(f'<rect x="25" y="232" width="360" height="8" rx="3" fill="{a}"/>')
    names = ["C", "B", "T"] if clutch else ["B", "T"]
    xs = [70, 173, 276] if clutch else [110, 236]
    for x, n in zip(xs, names):
        parts.append(pedal(x, 232, model, a if n == "B" and highlight_brake else "#3b3f46", n))
    if background:
        parts.append(text(395, 24, 16, EDITIONS[model], a, anchor="end"))
        parts.append(text(15, 24, 13, "3 PEDALS" if clutch else "2 PEDALS", "#555a60", anchor="start"))
    return "\n".join(parts)


def main():
    os.makedirs(OUT, exist_ok=True)
    for m in range(6):
        write(f"logo{m + 1}", 390, 130, logo(m))
    for i in range(20):
        black, j = i >= 10, i % 10
        clutch = j >= 6
        model = j - 6 if clutch else j
        write(f"photo{i:02d}", 410, 260, pedal_set(model, black, clutch, True))
    # No pedal stands out here: the wizard's arrows show which pedal each step is about.
    write("calibration3", 410, 260, pedal_set(0, True, True, False, highlight_brake=False))
    write("calibration2", 410, 260, pedal_set(0, True, False, False, highlight_brake=False))
    write("stripe", 1299, 44, "\n".join(
        f'<rect x="0" y="{y}" width="1299" height="{h}" fill="#ff8c00" opacity="{o}"/>'
        for y, h, o in [(10, 3, 1.0), (18, 2, 0.8), (25, 1, 0.6), (31, 1, 0.4)]))
    write("backdrop", 820, 560, "\n".join([
        '<defs><linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#1b1f27"/><stop offset="1" stop-color="#0b0d10"/></linearGradient></defs>',
        '<rect width="820" height="560" rx="6" fill="url(#sky)"/>',
        '<path d="M-20 560 C 180 380, 260 300, 420 300 S 700 260, 840 170 L 840 250 '
        'C 720 330, 560 360, 440 360 S 230 450, 150 560 Z" fill="#2b2f36"/>',
        '<path d="M-20 560 C 180 380, 260 300, 420 300 S 700 260, 840 170" fill="none" '
        'stroke="#c0392b" stroke-width="6" stroke-dasharray="18 14"/>',
        '<path d="M150 560 C 230 450, 320 360, 440 360 S 720 330, 840 250" fill="none" '
        'stroke="#ecf0f1" stroke-width="4" stroke-dasharray="18 14"/>',
        '<path d="M60 560 C 210 420, 290 330, 430 330 S 710 300, 840 210" fill="none" '
        'stroke="#7f8c8d" stroke-width="2" stroke-dasharray="30 30"/>',
        text(796, 540, 20, "TKB TUNEDECK", "#3d434d", anchor="end"),
    ]))
    write("mode_pro", 75, 22, text(37, 19, 21, "PRO", "#000000"))
    write("mode_sport", 122, 21, text(61, 19, 21, "SPORT", "#000000"))
    write("arrow_down", 60, 100, '<path d="M20 0 H40 V62 H58 L30 98 L2 62 H20 Z" fill="#1e9e3a"/>')
    write("arrow_up", 60, 100, '<path d="M20 100 H40 V38 H58 L30 2 L2 38 H20 Z" fill="#d62828"/>')
    write("list_arrow", 10, 6, '<path d="M0 0 H10 L5 6 Z" fill="#c5712f"/>')
    write("check_mark", 12, 10, '<path d="M1 5 L4.5 8.5 L11 1.5" fill="none" stroke="#ffffff" stroke-width="2.2"/>')
    write("icon", 16, 16, '<rect width="16" height="16" rx="3" fill="#16181c"/>'
          '<path d="M3 13 L8 3 L13 13 Z" fill="#e8731c"/>')


if __name__ == "__main__":
    main()
