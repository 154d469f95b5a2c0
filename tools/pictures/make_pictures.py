#!/usr/bin/env python3
"""Draws the program's own pictures into data/ (run from anywhere; needs python3-pil):

  data/1.bmp                  the system diagram of the system view (399 x 376, 24-bit)
  data/ui/toolbar_normal.png  six 85 x 60 tool bar images: Com, Par, Save data, XScope,
  data/ui/toolbar_hot.png     Postion, Tracking; the hot strip is the one under the mouse
  data/ui/energy.png          beside the energy box (37 x 40)
  data/ui/co2.png             beside the CO2 box (36 x 47)
  data/ui/quorvane.png        the program's icon (256 x 256)
  data/ui/principle.png       the system view's picture frame, shown when 1.bmp is missing
                              (160 x 120)

Everything is drawn at four times the size and scaled down, for smooth edges.
"""
import math
import os
import sys

from PIL import Image, ImageDraw, ImageFont

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DATA = os.path.join(ROOT, "data")
S = 4  # supersampling factor
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

NAVY = (28, 58, 102)
BLUE = (40, 96, 170)
CELL = (38, 74, 140)
CELL_LINE = (150, 180, 220)
GREY = (96, 104, 116)
LIGHT = (236, 240, 245)
ORANGE = (240, 160, 30)
YELLOW = (255, 204, 40)
GREEN = (48, 140, 70)
RED = (200, 60, 50)


def font(size, bold=False):
    return ImageFont.truetype(FONT_BOLD if bold else FONT, size * S)


def canvas(w, h, background=(0, 0, 0, 0)):
    image = Image.new("RGBA", (w * S, h * S), background)
    return image, ImageDraw.Draw(image)


def finish(image, w, h):
    return image.resize((w, h), Image.LANCZOS)


def sc(points):
    return [(x * S, y * S) for x, y in points]


def box(d, x0, y0, x1, y1, **kw):
    if "width" in kw:
        kw["width"] = round(kw["width"] * S)
    if "radius" in kw:
        kw["radius"] = kw["radius"] * S
        d.rounded_rectangle([x0 * S, y0 * S, x1 * S, y1 * S], **kw)
    else:
        d.rectangle([x0 * S, y0 * S, x1 * S, y1 * S], **kw)


def line(d, points, fill, width):
    d.line(sc(points), fill=fill, width=round(width * S), joint="curve")


def text(d, x, y, s, size, fill, bold=False, anchor="mm"):
    d.text((x * S, y * S), s, font=font(size, bold), fill=fill, anchor=anchor)


def arrow(d, x0, y0, x1, y1, fill, width, head=6):
    line(d, [(x0, y0), (x1, y1)], fill, width)
    a = math.atan2(y1 - y0, x1 - x0)
    p1 = (x1 - head * math.cos(a - 0.45), y1 - head * math.sin(a - 0.45))
    p2 = (x1 - head * math.cos(a + 0.45), y1 - head * math.sin(a + 0.45))
    d.polygon(sc([(x1, y1), p1, p2]), fill=fill)


def sun(d, cx, cy, r, rays=True, ray_in=3, ray_out=9, ray_width=2.2):
    if rays:
        for k in range(12):
            a = k * math.pi / 6
            line(d, [(cx + (r + ray_in) * math.cos(a), cy + (r + ray_in) * math.sin(a)),
                     (cx + (r + ray_out) * math.cos(a), cy + (r + ray_out) * math.sin(a))],
                 ORANGE, ray_width)
    d.ellipse([(cx - r) * S, (cy - r) * S, (cx + r) * S, (cy + r) * S], fill=YELLOW,
              outline=ORANGE, width=round(1.5 * S))


def panel(d, x, y, w, h, cols=4, rows=3, skew=0.0):
    """A PV module as a parallelogram of cells; skew shifts the top edge right."""
    def at(u, v):  # u, v in 0..1 across and down
        return (x + u * w + (1 - v) * skew, y + v * h)
    d.polygon(sc([at(0, 0), at(1, 0), at(1, 1), at(0, 1)]), fill=CELL, outline=(20, 40, 80))
    for c in range(1, cols):
        line(d, [at(c / cols, 0), at(c / cols, 1)], CELL_LINE, 0.8)
    for r in range(1, rows):
        line(d, [at(0, r / rows), at(1, r / rows)], CELL_LINE, 0.8)
    line(d, [at(0, 0), at(1, 0), at(1, 1), at(0, 1), at(0, 0)], (20, 40, 80), 1.2)


def system_diagram():
    w, h = 399, 376
    image, d = canvas(w, h, (255, 255, 255, 255))
    # sky and ground
    for yy in range(0, 300):
        t = yy / 300
        c = tuple(round(a + (b - a) * t) for a, b in zip((196, 224, 248), (246, 250, 253)))
        box(d, 0, yy, w, yy + 1, fill=c)
    box(d, 0, 300, w, h, fill=(226, 238, 214))
    text(d, w / 2, 16, "Grid-tied PV system", 14, NAVY, bold=True)

    # sun and panels on a roof
    sun(d, 40, 56, 13)
    line(d, [(70, 128), (150, 92), (230, 128)], (150, 84, 60), 4)
    d.polygon(sc([(80, 128), (220, 128), (220, 200), (80, 200)]), fill=(244, 236, 222),
              outline=(150, 120, 90))
    panel(d, 100, 90, 36, 30, cols=3, rows=3, skew=10)
    panel(d, 146, 90, 36, 30, cols=3, rows=3, skew=10)
    box(d, 96, 150, 124, 176, fill=(200, 222, 240), outline=(150, 120, 90), width=1)
    box(d, 176, 160, 200, 200, fill=(170, 120, 80), outline=(120, 84, 56), width=1)
    text(d, 150, 74, "PV panels", 11, NAVY, bold=True)

    # inverter
    box(d, 40, 240, 120, 310, fill=LIGHT, outline=GREY, width=1.5, radius=6)
    box(d, 52, 250, 108, 266, fill=(40, 60, 50), radius=2)
    text(d, 80, 258, "1234 W", 8, (140, 255, 160))
    box(d, 58, 274, 66, 282, fill=GREEN, radius=2)
    text(d, 90, 278, "DC/AC", 8, GREY)
    text(d, 80, 296, "Inverter", 10, NAVY, bold=True)

    # DC line from panels to inverter
    line(d, [(120, 200), (120, 225), (80, 225), (80, 240)], RED, 2.4)
    text(d, 100, 216, "DC", 9, RED, bold=True)

    # meter and grid
    box(d, 180, 252, 230, 300, fill=LIGHT, outline=GREY, width=1.5, radius=4)
    box(d, 188, 262, 222, 276, fill=(250, 250, 240), outline=GREY, width=1)
    text(d, 205, 269, "kWh", 8, NAVY)
    text(d, 205, 290, "Meter", 8, GREY)
    line(d, [(120, 275), (180, 275)], (60, 60, 60), 2.4)
    text(d, 150, 266, "AC", 9, (60, 60, 60), bold=True)
    # pylon
    px = 320
    line(d, [(px - 22, 330), (px, 210), (px + 22, 330)], GREY, 2.4)
    line(d, [(px - 30, 230), (px + 30, 230)], GREY, 2.4)
    line(d, [(px - 22, 255), (px + 22, 255)], GREY, 2.0)
    line(d, [(px - 15, 280), (px + 15, 280), (px - 18, 305), (px + 18, 305)], GREY, 1.4)
    for dx in (-30, 30):
        d.ellipse([(px + dx - 2) * S, (232) * S, (px + dx + 2) * S, 236 * S], fill=NAVY)
    line(d, [(230, 275), (262, 275), (290, 234)], (60, 60, 60), 2.4)
    line(d, [(px + 30, 234), (w, 250)], (60, 60, 60), 1.5)
    text(d, px, 344, "Grid", 11, NAVY, bold=True)

    # this PC over RS-485
    box(d, 268, 62, 376, 134, fill=(60, 66, 76), radius=5)
    box(d, 274, 68, 370, 126, fill=(250, 252, 255))
    curve = [(278 + k * 2.2, 120 - 46 * math.sin(math.pi * k / 40) ** 2) for k in range(41)]
    line(d, curve, BLUE, 1.8)
    box(d, 312, 134, 332, 146, fill=(60, 66, 76))
    box(d, 298, 146, 346, 151, fill=(60, 66, 76), radius=2)
    text(d, 322, 164, "This PC (Quorvane)", 10, NAVY, bold=True)
    line(d, [(108, 240), (108, 232), (250, 232), (250, 100), (268, 100)], BLUE, 1.6)
    text(d, 256, 186, "RS-485", 9, BLUE, bold=True, anchor="lm")
    text(d, 256, 198, "Modbus RTU", 8, BLUE, anchor="lm")

    # legend of flows
    arrow(d, 14, 354, 40, 354, RED, 2, head=5)
    text(d, 46, 354, "power", 8, GREY, anchor="lm")
    arrow(d, 90, 354, 116, 354, BLUE, 1.6, head=5)
    text(d, 122, 354, "data", 8, GREY, anchor="lm")
    return finish(image, w, h).convert("RGB")


# --- tool bar ------------------------------------------------------------------------------
TOOL_W, TOOL_H = 85, 60
LABELS = ["Com", "Par", "Save data", "XScope", "Postion", "Tracking"]


def icon_com(d, cx, cy, hot):
    c = BLUE if hot else NAVY
    d.polygon(sc([(cx - 15, cy - 9), (cx + 15, cy - 9), (cx + 11, cy + 7), (cx - 11, cy + 7)]),
              fill=(220, 228, 240), outline=c, width=round(1.6 * S))
    for k in range(5):
        dot = (cx - 10 + k * 5, cy - 4)
        d.ellipse([(dot[0] - 1.3) * S, (dot[1] - 1.3) * S, (dot[0] + 1.3) * S, (dot[1] + 1.3) * S],
                  fill=c)
    for k in range(4):
        dot = (cx - 7.5 + k * 5, cy + 2)
        d.ellipse([(dot[0] - 1.3) * S, (dot[1] - 1.3) * S, (dot[0] + 1.3) * S, (dot[1] + 1.3) * S],
                  fill=c)
    line(d, [(cx, cy + 7), (cx, cy + 12), (cx + 16, cy + 12)], ORANGE if hot else GREY, 2.2)


def icon_par(d, cx, cy, hot):
    c = BLUE if hot else NAVY
    r_out, r_in = 13, 9.5
    pts = []
    for k in range(16):
        a = k * math.pi / 8
        r = r_out if k % 2 == 0 else r_in
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    d.polygon(sc(pts), fill=(200, 210, 225), outline=c, width=round(1.4 * S))
    d.ellipse([(cx - 5) * S, (cy - 5) * S, (cx + 5) * S, (cy + 5) * S], fill=(255, 255, 255),
              outline=c, width=round(1.4 * S))


def icon_save(d, cx, cy, hot):
    c = GREEN if hot else (36, 110, 56)
    box(d, cx - 12, cy - 13, cx + 12, cy + 13, fill=(240, 248, 240), outline=c, width=1.5)
    for k in range(1, 4):
        line(d, [(cx - 12, cy - 13 + k * 6.5), (cx + 12, cy - 13 + k * 6.5)], c, 0.9)
    line(d, [(cx - 4, cy - 13), (cx - 4, cy + 13)], c, 0.9)
    arrow(d, cx + 16, cy - 14, cx + 16, cy + 6, ORANGE if hot else GREY, 2.4, head=6)


def icon_xscope(d, cx, cy, hot):
    c = BLUE if hot else NAVY
    line(d, [(cx - 16, cy + 11), (cx + 16, cy + 11)], GREY, 1.4)
    for k in range(5):
        x = cx - 16 + k * 8
        line(d, [(x, cy + 9), (x, cy + 13)], GREY, 1.2)
    arrow(d, cx, cy - 2, cx - 16, cy - 2, c, 2.0, head=5)
    arrow(d, cx, cy - 2, cx + 16, cy - 2, c, 2.0, head=5)
    line(d, [(cx - 17, cy - 12), (cx - 17, cy + 7)], ORANGE if hot else GREY, 1.6)
    line(d, [(cx + 17, cy - 12), (cx + 17, cy + 7)], ORANGE if hot else GREY, 1.6)


def icon_position(d, cx, cy, hot):
    c = BLUE if hot else NAVY
    pts = [(cx - 16 + k, cy + 10 - 20 * math.sin(math.pi * k / 32) ** 2) for k in range(33)]
    line(d, pts, c, 1.8)
    red = RED if hot else (170, 70, 60)
    line(d, [(cx + 3, cy - 14), (cx + 3, cy + 13)], red, 1.2)
    line(d, [(cx - 14, cy - 7), (cx + 16, cy - 7)], red, 1.2)
    d.ellipse([(cx + 0) * S, (cy - 10) * S, (cx + 6) * S, (cy - 4) * S], outline=red,
              width=round(1.6 * S))


def icon_tracking(d, cx, cy, hot):
    c = BLUE if hot else NAVY
    pts = [(cx - 16 + k, cy + 9 - 7 * math.sin(k / 5.0) - k * 0.35) for k in range(20)]
    line(d, pts, c, 1.8)
    line(d, [(cx - 16, cy + 12), (cx + 16, cy + 12)], GREY, 1.2)
    line(d, [(cx - 16, cy - 13), (cx - 16, cy + 12)], GREY, 1.2)
    arrow(d, cx + 4, cy - 3, cx + 17, cy - 3, ORANGE if hot else GREY, 2.2, head=5)


ICONS = [icon_com, icon_par, icon_save, icon_xscope, icon_position, icon_tracking]


def toolbar(hot):
    w = TOOL_W * len(LABELS)
    image, d = canvas(w, TOOL_H)
    for i, (label, draw_icon) in enumerate(zip(LABELS, ICONS)):
        x0 = i * TOOL_W
        if hot:
            box(d, x0 + 2, 2, x0 + TOOL_W - 3, TOOL_H - 3, fill=(214, 232, 252, 255),
                outline=(80, 140, 215, 255), width=1.2, radius=5)
        draw_icon(d, x0 + TOOL_W / 2, 22, hot)
        text(d, x0 + TOOL_W / 2, 49, label, 10, (10, 50, 120) if hot else (30, 30, 30), bold=hot)
    return finish(image, w, TOOL_H)


def energy_picture():
    w, h = 37, 40
    image, d = canvas(w, h)
    sun(d, 13, 13, 5, ray_in=2, ray_out=6, ray_width=1.6)
    d.polygon(sc([(22, 6), (13, 23), (19, 23), (15, 37), (29, 17), (22, 17), (27, 6)]),
              fill=ORANGE, outline=(180, 100, 10))
    return finish(image, w, h)


def co2_picture():
    w, h = 36, 47
    image, d = canvas(w, h)
    # a leaf
    leaf = []
    for k in range(41):
        t = k / 40
        leaf.append((18 + 13 * math.sin(math.pi * t), 4 + 28 * t))
    for k in range(40, -1, -1):
        t = k / 40
        leaf.append((18 - 13 * math.sin(math.pi * t) * 0.9, 4 + 28 * t))
    d.polygon(sc(leaf), fill=(90, 170, 80), outline=(40, 110, 50))
    line(d, [(18, 7), (18, 34)], (40, 110, 50), 1.2)
    for k in range(3):
        y = 13 + k * 6
        line(d, [(18, y + 4), (25, y)], (40, 110, 50), 0.9)
        line(d, [(18, y + 4), (11, y)], (40, 110, 50), 0.9)
    text(d, 18, 41, "CO2", 8, (30, 90, 40), bold=True)
    return finish(image, w, h)


def app_icon():
    w = h = 256
    image, d = canvas(w, h)
    box(d, 8, 8, 248, 248, fill=(30, 70, 130, 255), radius=40)
    box(d, 8, 8, 248, 128, fill=(52, 104, 178, 255), radius=40)
    box(d, 8, 90, 248, 128, fill=(52, 104, 178, 255))
    sun(d, 182, 66, 26)
    panel(d, 36, 120, 140, 76, cols=5, rows=3, skew=32)
    line(d, [(36, 214), (220, 214)], (220, 230, 245), 4)
    pts = [(40 + k * 4.5, 214 - 130 * math.sin(math.pi * k / 40) ** 2) for k in range(41)]
    line(d, pts, (255, 214, 60), 6)
    return finish(image, w, h)


def principle_picture():
    # The frame's own picture: a quiet sun over a panel, nothing that could be taken for data.
    w, h = 160, 120
    image, d = canvas(w, h)
    box(d, 4, 4, 156, 116, fill=(246, 248, 251, 255), outline=(200, 208, 218), width=1,
        radius=8)
    sun(d, 118, 34, 12)
    panel(d, 26, 46, 88, 44, cols=4, rows=2, skew=18)
    line(d, [(20, 100), (140, 100)], (180, 188, 200), 2)
    return finish(image, w, h)


def main():
    os.makedirs(os.path.join(DATA, "ui"), exist_ok=True)
    system_diagram().save(os.path.join(DATA, "1.bmp"))
    toolbar(False).save(os.path.join(DATA, "ui", "toolbar_normal.png"))
    toolbar(True).save(os.path.join(DATA, "ui", "toolbar_hot.png"))
    energy_picture().save(os.path.join(DATA, "ui", "energy.png"))
    co2_picture().save(os.path.join(DATA, "ui", "co2.png"))
    app_icon().save(os.path.join(DATA, "ui", "quorvane.png"))
    principle_picture().save(os.path.join(DATA, "ui", "principle.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
