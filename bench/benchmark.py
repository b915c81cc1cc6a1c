#!/usr/bin/env python3
"""Measures the launcher and its tools against the plain tools that do the
same work, on this machine, in one run:

  * launcher overhead: a whole run with -javaHome and an installer that exits
    at once, against that installer command run alone;
  * payload extraction (JarExtractor::extractFile) against cp of the same bytes,
    for a 100 MB and a 1 GB payload;
  * runtime unpack (talve-unpack -o) against tar -xzf of the same tree, and the
    packed size against the tar.gz and tar.xz of that tree;
  * peak resident memory of the launcher extracting a 1 GB payload and of
    talve-unpack unpacking (/usr/bin/time -v);
  * stripped sizes of the programs.

Each time is the median of repeated runs with warm caches (min and max beside
it), so both sides of a ratio pay the same disk-read cost; a ratio below 1
means faster than the plain tool.

    bench/benchmark.py [--runs N] [--linux-build DIR] [--windows-build DIR] [--skip-1g]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(argv, **kwargs):
    return subprocess.run(argv, check=True, **kwargs)


def timed(argv, runs, before=None, **kwargs):
    """Median, min and max wall time of a command, in seconds."""
    samples = []
    for _ in range(runs):
        if before:
            before()
        start = time.perf_counter()
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)
        samples.append(time.perf_counter() - start)
    return statistics.median(samples), min(samples), max(samples)


def peak_rss_kib(argv, **kwargs):
    result = subprocess.run(["/usr/bin/time", "-v"] + argv, check=True, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, **kwargs)
    for line in result.stderr.splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1])
    raise RuntimeError("no peak memory in /usr/bin/time output")


def fmt(triple, unit="s", scale=1.0):
    median, low, high = (value * scale for value in triple)
    digits = 1 if unit == "ms" else 3
    return f"{median:.{digits}f} {unit} (min {low:.{digits}f}, max {high:.{digits}f})"


def ratio(a, b):
    return a[0] / b[0]


def make_payload(path, megabytes):
    with open(path, "wb") as out:
        chunk = os.urandom(1 << 20)
        for _ in range(megabytes):
            out.write(chunk)


def stripped_size(program, strip_tool, scratch):
    if not program or not os.path.exists(program) or not shutil.which(strip_tool):
        return None
    copy = os.path.join(scratch, "stripped-" + os.path.basename(program))
    shutil.copyfile(program, copy)
    run([strip_tool, copy], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return os.path.getsize(copy)


def overhead(bin_dir, work, runs):
    runtime = os.path.join(work, "instant-runtime")
    os.makedirs(os.path.join(runtime, "bin"))
    shutil.copyfile(shutil.which("true"), os.path.join(runtime, "bin", "java"))
    os.chmod(os.path.join(runtime, "bin", "java"), 0o755)
    open(os.path.join(runtime, "jvm.properties"), "w").close()
    jar = os.path.join(work, "install.jar")
    with open(jar, "wb") as out:
        out.write(b"PK\x05\x06" + bytes(18))
    installer = os.path.join(work, "instant-installer")
    run([os.path.join(bin_dir, "talve-pack"), "create", "-o", installer, "--launcher",
         os.path.join(bin_dir, "talve-launcher"), "--jar", jar], stdout=subprocess.DEVNULL)
    temp = os.path.join(work, "temp")
    os.makedirs(temp)
    env = dict(os.environ, TEMP=temp, TMP=temp)
    env.pop("KORVU_LOG_LEVEL", None)
    launcher = timed([installer, "-javaHome", runtime, "-multipleInstance", "-noSplashScreen"], runs,
                     env=env, cwd=work)
    child = timed([os.path.join(runtime, "bin", "java"), "-Duser.language=en", "-jar", jar], runs, env=env, cwd=work)
    return launcher, child, required_children(work, runs), runtime, jar


def required_children(work, runs):
    """The other programs every run starts on Linux: the removal of a
    leftover directory before the temporary one is made, the (empty) exit
    script, and the removal of the temporary directory."""
    victim = os.path.join(work, "victim")
    script = os.path.join(work, "exitscript.bat")
    open(script, "w").close()
    removal = timed(["rm", "-rf", victim], runs, before=lambda: os.makedirs(victim, exist_ok=True))
    exit_script = timed(["/bin/sh", script], runs)
    return tuple(2 * r + e for r, e in zip(removal, exit_script))


def extraction(bin_dir, work, runs, megabytes):
    payload = os.path.join(work, f"data{megabytes}.bin")
    make_payload(payload, megabytes)
    installer = os.path.join(work, f"installer-{megabytes}")
    run([os.path.join(bin_dir, "talve-pack"), "create", "-o", installer, "--launcher",
         os.path.join(bin_dir, "talve-launcher"), "--jar", os.path.join(work, "install.jar"), "--data", payload],
        stdout=subprocess.DEVNULL)
    run(["cat", installer], stdout=subprocess.DEVNULL)
    extracted = os.path.join(work, "extracted.bin")
    copied = os.path.join(work, "copied.bin")

    def remove(path):
        return lambda: os.path.exists(path) and os.remove(path)

    data_row = "3"
    extract = timed([os.path.join(bin_dir, "talve_extract_bench"), installer, data_row, extracted], runs,
                    before=remove(extracted))
    copy = timed(["cp", payload, copied], runs, before=remove(copied))
    run(["cmp", "-s", payload, extracted])
    os.remove(extracted)
    os.remove(copied)
    os.remove(payload)
    return extract, copy, installer


def unpack(bin_dir, work, runs):
    demo = os.path.join(work, "demo")
    run([os.path.join(ROOT, "scripts", "make-demo-installer.sh"), bin_dir, demo], stdout=subprocess.DEVNULL)
    tree = os.path.join(demo, "runtime")
    packed = os.path.join(demo, "jvm")
    targz = os.path.join(work, "runtime.tar.gz")
    tarxz = os.path.join(work, "runtime.tar.xz")
    run(["tar", "-C", tree, "-czf", targz, "."])
    run(["tar", "-C", tree, "-cJf", tarxz, "."])
    unpack_dir = os.path.join(work, "u")
    tar_dir = os.path.join(work, "t")

    def fresh_unpack_dir():
        shutil.rmtree(unpack_dir, ignore_errors=True)
        os.makedirs(unpack_dir)
        shutil.copy2(packed, os.path.join(unpack_dir, "jvm"))

    def fresh_tar_dir():
        shutil.rmtree(tar_dir, ignore_errors=True)
        os.makedirs(tar_dir)

    unpacked = timed(["./jvm", "-o"], runs, before=fresh_unpack_dir, cwd=unpack_dir)
    untarred = timed(["tar", "-C", tar_dir, "-xzf", targz], runs, before=fresh_tar_dir)
    run(["diff", "-r", os.path.join(unpack_dir, "_jvm", "bin"), os.path.join(tar_dir, "bin")])
    fresh_unpack_dir()
    memory = peak_rss_kib(["./jvm", "-o"], cwd=unpack_dir)
    sizes = {name: os.path.getsize(path) for name, path in
             (("packed", packed), ("tar.gz", targz), ("tar.xz", tarxz))}
    tree_bytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(tree) for f in files)
    return unpacked, untarred, memory, sizes, tree_bytes


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=int(os.environ.get("RUNS", "11")))
    parser.add_argument("--linux-build", default=os.path.join(ROOT, "build", "linux"))
    parser.add_argument("--windows-build", default=os.path.join(ROOT, "build", "windows"))
    parser.add_argument("--skip-1g", action="store_true", help="leave out the 1 GB extraction")
    args = parser.parse_args()

    run(["cmake", "--build", args.linux_build, "--target", "talve-launcher", "talve-pack", "talve-unpack",
         "talve_extract_bench"], stdout=subprocess.DEVNULL)
    bin_dir = os.path.join(args.linux_build, "bin")
    windows_bin = os.path.join(args.windows_build, "bin")
    if not shutil.which("/usr/bin/time"):
        sys.exit("needs /usr/bin/time (Debian package 'time')")

    cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"],
                         capture_output=True, text=True).stdout.strip()
    print(f"machine: {os.cpu_count()} cores, {cpu}; median of {args.runs} runs, warm caches")
    work = tempfile.mkdtemp(prefix="talve-bench.")
    try:
        launcher, child, required, runtime, jar = overhead(bin_dir, work, args.runs)
        print("\nlauncher overhead (whole run with -javaHome, installer exits at once)")
        print(f"  launcher run        {fmt(launcher, 'ms', 1000)}")
        print(f"  installer alone     {fmt(child, 'ms', 1000)}")
        print(f"  overhead            {(launcher[0] - child[0]) * 1000:.1f} ms   ratio {ratio(launcher, child):.2f}")
        print(f"  of which the required rm -rf (2x) and sh exitscript: {required[0] * 1000:.1f} ms;"
              f" beyond them {(launcher[0] - child[0] - required[0]) * 1000:.1f} ms")

        print("\npayload extraction (extractFile) against cp of the same bytes")
        sizes_mb = [100] if args.skip_1g else [100, 1024]
        big_installer = None
        for megabytes in sizes_mb:
            extract, copy, installer = extraction(bin_dir, work, args.runs if megabytes < 1024 else 5, megabytes)
            print(f"  {megabytes:>5} MB  extract {fmt(extract)}   cp {fmt(copy)}   ratio {ratio(extract, copy):.2f}")
            big_installer = installer

        unpacked, untarred, unpack_memory, sizes, tree_bytes = unpack(bin_dir, work, args.runs)
        print(f"\nruntime unpack (jlink demo runtime, {tree_bytes} bytes unpacked)")
        print(f"  talve-unpack -o     {fmt(unpacked)}")
        print(f"  tar -xzf            {fmt(untarred)}")
        print(f"  ratio               {ratio(unpacked, untarred):.2f}")
        print(f"  packed {sizes['packed']} bytes; tar.gz {sizes['tar.gz']} "
              f"({sizes['packed'] / sizes['tar.gz']:.2f}x); tar.xz {sizes['tar.xz']} "
              f"({sizes['packed'] / sizes['tar.xz']:.2f}x)")

        temp = os.path.join(work, "temp")
        env = dict(os.environ, TEMP=temp, TMP=temp)
        launcher_memory = peak_rss_kib([big_installer, "-javaHome", runtime, "-multipleInstance", "-noSplashScreen"],
                                       env=env, cwd=work)
        print("\npeak resident memory")
        print(f"  launcher, {sizes_mb[-1]} MB extraction   {launcher_memory} KiB")
        print(f"  talve-unpack -o            {unpack_memory} KiB")

        print("\nstripped sizes")
        for name, path, tool in (
                ("talve-launcher.exe", os.path.join(windows_bin, "talve-launcher.exe"), "i686-w64-mingw32-strip"),
                ("talve-launcher", os.path.join(bin_dir, "talve-launcher"), "strip"),
                ("talve-unpack.exe", os.path.join(windows_bin, "talve-unpack.exe"), "i686-w64-mingw32-strip"),
                ("talve-unpack", os.path.join(bin_dir, "talve-unpack"), "strip")):
            size = stripped_size(path, tool, work)
            print(f"  {name:<20} {size if size is not None else 'not built'}"
                  + (" bytes" if size is not None else ""))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
