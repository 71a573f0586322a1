#!/usr/bin/env python3
"""Images against outside tools (test-only: pngcheck, ImageMagick, Python's PIL).

- Files that vyr saves pass pngcheck and open in PIL with the same pixels
  (lossless formats exactly, JPEG nearly).
- Files that PIL and ImageMagick write load in vyr with the pixels PIL reads.
- Cut and damaged files load as an error (cannot-open) or an image, never a
  crash: the run must end normally with nothing on standard error.
"""
import os
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError:  # the system Python carries PIL when another one runs us
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise

VYR = sys.argv[1]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL", what)


def run_vyr(script, tmp):
    path = os.path.join(tmp, "script.vyr")
    with open(path, "w") as f:
        f.write("Vyr []\n" + script)
    p = subprocess.run([VYR, path], capture_output=True, text=True, timeout=300)
    check(p.returncode == 0, f"vyr ended with status {p.returncode}")
    check(p.stderr == "", "vyr wrote to standard error:\n" + p.stderr[:3000])
    return p.stdout


def bgra_hex(im):
    """The pixels as vyr's argb view spells them: B, G, R, A per pixel."""
    out = []
    for r, g, b, a in im.convert("RGBA").getdata():
        out.append("%02X%02X%02X%02X" % (b, g, r, a))
    return "".join(out)


def load_all(files, tmp):
    """vyr's view of each file: ("OK", "WxH", hex) or ("ERR", id)."""
    blk = " ".join("%" + f for f in files)
    out = run_vyr(
        f"foreach f [{blk}] [\n"
        "  either error? e: try [i: load f] [print [\"ERR\" e/id]] [\n"
        "    either image? i [print [\"OK\" i/size enbase/base i/argb 16]] [print [\"NOT\" type? i]]\n"
        "  ]\n]\n",
        tmp,
    )
    lines = out.splitlines()
    check(len(lines) == len(files), f"expected {len(files)} answers, got:\n{out[:2000]}")
    return [tuple(l.split()) for l in lines]


def near(a, b, tolerance):
    if len(a) != len(b):
        return False
    return all(abs(int(a[i:i + 2], 16) - int(b[i:i + 2], 16)) <= tolerance for i in range(0, len(a), 2))


def ours_open_elsewhere(tmp):
    # Opaque pixels, and see-through ones that are black (GIF keeps those).
    rgb = "FF0000" "00FF00" "0000FF" "000000" "102030" "FFFFFF" "808080" "000000" "7F7F00" "00C0C0" "C000C0" "010203"
    alpha = "000000FF" "000000FF" "00000000"
    names = {"png": "png", "bmp": "bmp", "gif": "gif", "tiff": "tif", "jpeg": "jpg"}
    saves = "\n".join(f"save %{tmp}/ours.{s} i" for s in names.values())
    jpeg_here = run_vyr(f"i: make image! [4x3 #{{{rgb}}} #{{{alpha}}}]\n{saves}\n"
                        f"j: load %{tmp}/ours.jpg\nprint enbase/base j/argb 16\n", tmp).strip()
    p = subprocess.run(["pngcheck", f"{tmp}/ours.png"], capture_output=True, text=True)
    check(p.returncode == 0, "pngcheck: " + p.stdout + p.stderr)
    expected = None
    for fmt, suffix in names.items():
        im = Image.open(f"{tmp}/ours.{suffix}")
        im.load()
        check(im.size == (4, 3), f"{fmt}: PIL reads size {im.size}")
        got = bgra_hex(im)
        if fmt == "png":
            expected = got
            check(got[:8] == "0000FFFF" and got[30:32] == "00", f"png pixels {got}")
        elif fmt == "jpeg":
            check(near(got, jpeg_here, 3), f"jpeg pixels: PIL {got}, vyr {jpeg_here}")
        else:
            check(got == expected, f"{fmt} pixels {got} != {expected}")


def theirs_load_here(tmp):
    made = []

    def pil(name, image, **options):
        image.save(os.path.join(tmp, name), **options)
        made.append(name)

    base = Image.new("RGB", (7, 5))
    base.putdata([((x * 37) % 256, (y * 51) % 256, (x * y * 13) % 256) for y in range(5) for x in range(7)])
    rgba = base.convert("RGBA")
    rgba.putdata([(r, g, b, (i * 41) % 256) for i, (r, g, b, _) in enumerate(rgba.getdata())])
    pil("pil-rgb.png", base)
    pil("pil-rgba.png", rgba)
    pil("pil-p.png", base.convert("P", palette=Image.ADAPTIVE, colors=16))
    pil("pil-l.png", base.convert("L"))
    pil("pil-interlaced.png", base, optimize=False)
    pil("pil-rgb.bmp", base)
    pil("pil-p.bmp", base.convert("P", palette=Image.ADAPTIVE, colors=16))
    pil("pil-1.bmp", base.convert("1"))
    pil("pil-rgb.gif", base)
    gif = base.convert("P", palette=Image.ADAPTIVE, colors=8)
    pil("pil-transparent.gif", gif, transparency=0)
    pil("pil-rgb.tif", base)
    pil("pil-rgba.tif", rgba)
    pil("pil-lzw.tif", base, compression="tiff_lzw")
    pil("pil-deflate.tif", rgba, compression="tiff_adobe_deflate")
    pil("pil-l.tif", base.convert("L"))
    pil("pil-rgb.jpg", base, quality=95)
    pil("pil-l.jpg", base.convert("L"))
    pil("pil-progressive.jpg", base, progressive=True)
    src = os.path.join(tmp, "pil-rgb.png")
    for name, args in [
        ("im-rgb565.bmp", ["-define", "bmp:subtype=RGB565"]),
        ("im-bmp3.bmp", ["-type", "TrueColor"]),
        ("im-alpha.bmp", ["-alpha", "on", "-channel", "A", "-evaluate", "set", "50%"]),
        ("im-rgb.png", []),
        ("im-rgb.gif", []),
        ("im-zip.tif", ["-compress", "zip"]),
        ("im-tiled.tif", ["-define", "tiff:tile-geometry=16x16"]),
        ("im-rgb.jpg", []),
    ]:
        target = os.path.join(tmp, name)
        if name == "im-bmp3.bmp":
            target = "BMP3:" + target
        subprocess.run(["convert", src] + args + [target], check=True, capture_output=True)
        made.append(name)
    answers = load_all([os.path.join(tmp, n) for n in made], tmp)
    for name, answer in zip(made, answers):
        im = Image.open(os.path.join(tmp, name))
        im.load()
        want = bgra_hex(im)
        size = "%dx%d" % im.size
        if not (len(answer) == 3 and answer[0] == "OK"):
            check(False, f"{name}: vyr answered {answer}")
            continue
        check(answer[1] == size, f"{name}: size {answer[1]} != {size}")
        # JPEG decoders may differ a little; 16-bit BMP channels scale up by
        # rounding here, by truncation in PIL.
        tolerance = 3 if name.endswith(".jpg") else 1 if "565" in name else 0
        check(near(answer[2], want, tolerance), f"{name}: pixels\n  vyr {answer[2]}\n  PIL {want}")
    return made


def damaged_files_fail_cleanly(tmp, made):
    names = []
    for name in made + ["ours.png", "ours.bmp", "ours.gif", "ours.tif", "ours.jpg"]:
        with open(os.path.join(tmp, name), "rb") as f:
            data = f.read()
        stem, suffix = os.path.splitext(name)
        variants = {"half": data[: len(data) // 2], "header": data[:20]}
        for k, at in enumerate((10, 16, 24, len(data) // 3, len(data) // 2, len(data) - 5)):
            flipped = bytearray(data)
            if 0 <= at < len(flipped):
                flipped[at] ^= 0xFF
            variants["flip%d" % k] = bytes(flipped)
        for v, content in variants.items():
            n = f"bad-{stem}-{v}{suffix}"
            with open(os.path.join(tmp, n), "wb") as f:
                f.write(content)
            names.append(n)
    answers = load_all([os.path.join(tmp, n) for n in names], tmp)
    for n, a in zip(names, answers):
        check(a[0] in ("OK", "ERR"), f"{n}: {a}")
        if a[0] == "ERR":
            check(a[1] in ("cannot-open", "size-limit"), f"{n}: error {a[1]}")
        if "-half" in n or "-header" in n:
            check(a[0] == "ERR", f"{n}: a cut file loaded")


def main():
    with tempfile.TemporaryDirectory() as tmp:
        ours_open_elsewhere(tmp)
        made = theirs_load_here(tmp)
        damaged_files_fail_cleanly(tmp, made)
    if failures:
        print(f"{len(failures)} failure(s)")
        sys.exit(1)
    print("images interoperate")


main()
