#!/usr/bin/env python3
"""Measures the launcher and its tools against the plain tools that do the
same work, on this machine, in one run:

  * launcher overhead: a whole run with -javaHome and an installer that exits
    at once, against that installer command run alone and the launcher's
    own start (-help);
  * payload extraction (JarExtractor::extractFile) against cp of the same bytes,
    for a 100 MB and a 1 GB payload;
  * runtime unpack (talve-unpack -o) against tar -xzf of the same tree, and the
    packed size against the tar.gz and tar.xz of that tree;
  * peak resident memory of the launcher extracting a 1 GB payload and of
    talve-unpack unpacking (/usr/bin/time -v);
  * stripped sizes of the programs;
  * time to the installer's first line: the demo installer against a
    jpackage app-image of the same jar on the same runtime, and makeself
    archives of runtime and jar (gzip and zstd);
  * packed size and unpack time of the demo and of a full jlink runtime
    against tar.gz, tar.xz and tar.zst, unpacking on 2 cores and on 1;
  * the 1 GB extraction on an xfs or btrfs loop image (as root), where the
    payload's blocks are shared, against cp and rm;
  * talve-pack create with a 1 GB data jar against cp, with peak memory;
  * the figures of bench/run_overhead.sh and bench/runtime_archive.sh, when
    this tree has them.

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


def timed(argv, runs, before=None, check=True, **kwargs):
    """Median, min and max wall time of a command, in seconds."""
    samples = []
    for _ in range(runs):
        if before:
            before()
        start = time.perf_counter()
        subprocess.run(argv, check=check, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)
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


def timed_first_line(argv, runs, prefix, before=None, **kwargs):
    """Median, min and max time until a line starting with prefix appears
    on the program's standard output; the program is then let finish."""
    samples = []
    for _ in range(runs):
        if before:
            before()
        start = time.perf_counter()
        child = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, **kwargs)
        seen = None
        for line in child.stdout:
            if seen is None and line.startswith(prefix):
                seen = time.perf_counter() - start
        child.wait()
        if seen is None:
            raise RuntimeError(f"{argv[0]} printed no line starting with {prefix!r}")
        samples.append(seen)
    return statistics.median(samples), min(samples), max(samples)


def first_line(bin_dir, work, runs, demo):
    """The demo installer, a jpackage app-image of its jar on the same
    runtime, and makeself archives of runtime and jar, to the jar's first line."""
    prefix = b"Sample installer: "
    scratch = os.path.join(work, "first-line")
    os.makedirs(os.path.join(scratch, "temp"))
    env = dict(os.environ, TEMP=os.path.join(scratch, "temp"), TMP=os.path.join(scratch, "temp"),
               TMPDIR=os.path.join(scratch, "temp"), KORVU_INVENTORY_LOCATION=os.path.join(scratch, "inventory"),
               CommonProgramFiles=os.path.join(scratch, "common"))
    env.pop("ALLUSERSPROFILE", None)
    results = {}
    installer = os.path.join(demo, "talve-demo-installer")
    results["talve-launcher (demo)"] = timed_first_line(
        [installer, "-console", "-multipleInstance", "-noSplashScreen"], runs, prefix, env=env, cwd=scratch)
    if shutil.which("jpackage"):
        images = os.path.join(scratch, "jpackage")
        inputs = os.path.join(scratch, "jpackage-input")
        os.makedirs(inputs)
        shutil.copy2(os.path.join(demo, "install.jar"), inputs)
        run(["jpackage", "--type", "app-image", "--input", inputs, "--main-jar", "install.jar", "--main-class",
             "SampleInstaller", "--name", "demo", "--dest", images, "--runtime-image", os.path.join(demo, "runtime")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        results["jpackage app-image"] = timed_first_line([os.path.join(images, "demo", "bin", "demo")], runs, prefix,
                                                         env=env, cwd=scratch)
    if shutil.which("makeself"):
        content = os.path.join(scratch, "makeself-content")
        shutil.copytree(os.path.join(demo, "runtime"), os.path.join(content, "runtime"), symlinks=True)
        shutil.copy2(os.path.join(demo, "install.jar"), content)
        with open(os.path.join(content, "start.sh"), "w") as script:
            script.write('#!/bin/sh\nexec ./runtime/bin/java -jar install.jar "$@"\n')
        os.chmod(os.path.join(content, "start.sh"), 0o755)
        for codec in ("gzip", "zstd"):
            archive = os.path.join(scratch, f"demo-{codec}.run")
            made = subprocess.run(["makeself", "--" + codec, "--nox11", content, archive, "demo", "./start.sh"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if made.returncode == 0:
                results[f"makeself {codec}"] = timed_first_line([archive, "--quiet", "--nox11"], runs, prefix,
                                                                env=env, cwd=scratch)
    return results


def full_runtime(work):
    """A jlink runtime of every module of this JDK, as a full product would carry."""
    tree = os.path.join(work, "full-runtime")
    run(["jlink", "--add-modules", "ALL-MODULE-PATH", "--output", tree, "--strip-debug", "--no-header-files",
         "--no-man-pages"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return tree


def runtime_figures(bin_dir, work, runs, name, tree, packed):
    """Packed sizes against tar.gz, tar.xz and tar.zst of the tree, and the
    unpack times: talve-unpack on every core and pinned to one, tar."""
    archives = {"tar.gz": ["-czf"], "tar.xz": ["-cJf"], "tar.zst": ["-I", "zstd -19 -T0", "-cf"]}
    # The packed runtime is its unpacker followed by the archive; the archive
    # alone is what the tar files compare with.
    stub = os.path.getsize(os.path.join(bin_dir, "talve-unpack"))
    sizes = {"packed": os.path.getsize(packed), "archive alone": os.path.getsize(packed) - stub}
    for kind, options in archives.items():
        if kind == "tar.zst" and not shutil.which("zstd"):
            continue
        path = os.path.join(work, f"{name}.{kind}")
        run(["tar", "-C", tree] + options + [path, "."])
        sizes[kind] = os.path.getsize(path)
    unpack_dir = os.path.join(work, f"{name}-u")
    tar_dir = os.path.join(work, f"{name}-t")

    def fresh_unpack_dir():
        shutil.rmtree(unpack_dir, ignore_errors=True)
        os.makedirs(unpack_dir)
        shutil.copy2(packed, os.path.join(unpack_dir, "jvm"))

    def fresh_tar_dir():
        shutil.rmtree(tar_dir, ignore_errors=True)
        os.makedirs(tar_dir)

    times = {"talve-unpack -o": timed(["./jvm", "-o"], runs, before=fresh_unpack_dir, cwd=unpack_dir)}
    if shutil.which("taskset"):
        times["talve-unpack -o, 1 core"] = timed(["taskset", "-c", "0", "./jvm", "-o"], runs, before=fresh_unpack_dir,
                                                 cwd=unpack_dir)
    times["tar -xzf"] = timed(["tar", "-C", tar_dir, "-xzf", os.path.join(work, f"{name}.tar.gz")], runs,
                              before=fresh_tar_dir)
    if "tar.zst" in sizes:
        times["tar --zstd -xf"] = timed(["tar", "-C", tar_dir, "-I", "zstd", "-xf", os.path.join(work, f"{name}.tar.zst")],
                                        runs, before=fresh_tar_dir)
    # The unpacker adds its own files beside the runtime's; bin is the runtime's alone.
    run(["diff", "-r", os.path.join(unpack_dir, "_jvm", "bin"), os.path.join(tar_dir, "bin")], stdout=subprocess.DEVNULL)
    shutil.rmtree(unpack_dir, ignore_errors=True)
    shutil.rmtree(tar_dir, ignore_errors=True)
    return sizes, times


def loop_image(work, size_gib):
    """An xfs or btrfs image mounted on a loop device (root only): the path
    it is mounted at and its type, or None with the reason."""
    if os.geteuid() != 0:
        return None, "needs root to mount a loop image"
    for kind in ("xfs", "btrfs"):
        if not shutil.which("mkfs." + kind):
            continue
        image = os.path.join(work, kind + ".img")
        mount_point = os.path.join(work, kind)
        os.makedirs(mount_point)
        with open(image, "wb") as out:
            out.truncate(size_gib << 30)
        if subprocess.run(["mkfs." + kind, "-q", image], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode != 0:
            continue
        if subprocess.run(["mount", "-o", "loop", image, mount_point], stderr=subprocess.DEVNULL).returncode == 0:
            return (mount_point, kind), None
    return None, "no xfs or btrfs image could be mounted (mkfs.xfs, mkfs.btrfs and loop devices needed)"


def extraction_against_cp_rm(bin_dir, folder, runs, installer, payload):
    """The 1 GB payload extracted from the installer and removed, against
    cp and rm of the payload itself, both in folder."""
    extracted = os.path.join(folder, "extracted.bin")
    copied = os.path.join(folder, "copied.bin")
    extract = timed([os.path.join(bin_dir, "talve_extract_bench"), installer, "3", extracted], runs,
                    before=lambda: os.path.exists(extracted) and os.remove(extracted))
    remove_extracted = timed(["rm", "-f", extracted], runs, before=lambda: run(
        [os.path.join(bin_dir, "talve_extract_bench"), installer, "3", extracted], stdout=subprocess.DEVNULL))
    copy = timed(["cp", payload, copied], runs, before=lambda: os.path.exists(copied) and os.remove(copied))
    remove_copied = timed(["rm", "-f", copied], runs, before=lambda: run(["cp", payload, copied]))
    # What extractFile alone took, as the bench program measures it inside:
    # on a loaded machine a process start can cost more than a shared copy.
    inside = []
    for _ in range(runs):
        if os.path.exists(extracted):
            os.remove(extracted)
        printed = subprocess.run([os.path.join(bin_dir, "talve_extract_bench"), installer, "3", extracted],
                                 check=True, capture_output=True, text=True).stdout
        inside.append(float(printed.strip()))
    os.remove(extracted)
    return extract, remove_extracted, copy, remove_copied, (statistics.median(inside), min(inside), max(inside))


def shared_extraction(bin_dir, work, runs, jar):
    """The 1 GB extraction where the file system shares blocks."""
    mounted, why = loop_image(work, 3)
    if mounted is None:
        return None, why
    mount_point, kind = mounted
    try:
        payload = os.path.join(mount_point, "data1024.bin")
        make_payload(payload, 1024)
        installer = os.path.join(mount_point, "installer")
        run([os.path.join(bin_dir, "talve-pack"), "create", "-o", installer, "--launcher",
             os.path.join(bin_dir, "talve-launcher"), "--jar", jar, "--data", payload], stdout=subprocess.DEVNULL)
        return (kind, extraction_against_cp_rm(bin_dir, mount_point, runs, installer, payload)), None
    finally:
        subprocess.run(["umount", mount_point])


def create_against_cp(bin_dir, work, runs, jar):
    """talve-pack create with a 1 GB data jar against cp of that jar, and
    the packer's peak memory."""
    payload = os.path.join(work, "data1g.bin")
    make_payload(payload, 1024)
    output = os.path.join(work, "create-out")
    copied = os.path.join(work, "create-copy")
    argv = [os.path.join(bin_dir, "talve-pack"), "create", "-o", output, "--launcher",
            os.path.join(bin_dir, "talve-launcher"), "--jar", jar, "--data", payload]
    create = timed(argv, runs, before=lambda: os.path.exists(output) and os.remove(output))
    os.remove(output)
    memory = peak_rss_kib(argv)
    copy = timed(["cp", payload, copied], runs, before=lambda: os.path.exists(copied) and os.remove(copied))
    for path in (output, copied, payload):
        os.remove(path)
    return create, copy, memory


def other_bench_scripts(bin_dir):
    """The benchmark scripts that arrive with other pieces of work, run
    when this tree has them; their output is printed as it is."""
    for name, arguments in (("run_overhead.sh", []), ("runtime_archive.sh", [bin_dir])):
        script = os.path.join(ROOT, "bench", name)
        print(f"\nbench/{name}")
        if not os.path.exists(script):
            print("  not in this tree")
            continue
        result = subprocess.run(["bash", script] + arguments, capture_output=True, text=True)
        for line in (result.stdout + result.stderr).splitlines():
            print("  " + line)
        if result.returncode != 0:
            print(f"  (exited with {result.returncode})")


def goal(label, value, limit, unit=""):
    verdict = "met" if value <= limit else "NOT met"
    return f"  {label:<58} {value:.3f}{unit} (goal <= {limit}{unit}): {verdict}"


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
    # -help ends with code 1 by design.
    own_start = timed([installer, "-help"], runs, check=False, env=env, cwd=work)
    return launcher, child, own_start, runtime, jar


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
        launcher, child, own_start, runtime, jar = overhead(bin_dir, work, args.runs)
        print("\nlauncher overhead (whole run with -javaHome, installer exits at once)")
        print(f"  launcher run        {fmt(launcher, 'ms', 1000)}")
        print(f"  installer alone     {fmt(child, 'ms', 1000)}")
        print(f"  overhead            {(launcher[0] - child[0]) * 1000:.1f} ms   ratio {ratio(launcher, child):.2f}")
        print(f"  of which the launcher's own start and table (-help): {own_start[0] * 1000:.1f} ms;"
              f" its work beyond them {(launcher[0] - child[0] - own_start[0]) * 1000:.1f} ms"
              " (it starts no other program: the exit script is left empty)")

        print("\npayload extraction (extractFile) against cp of the same bytes, ext4 or what the work folder is on")
        extract, copy, _ = extraction(bin_dir, work, args.runs, 100)
        print(f"    100 MB  extract {fmt(extract)}   cp {fmt(copy)}   ratio {ratio(extract, copy):.2f}")
        big_installer, sizes_mb = None, [100]
        shared = None
        if not args.skip_1g:
            sizes_mb.append(1024)
            payload = os.path.join(work, "data1024.bin")
            make_payload(payload, 1024)
            big_installer = os.path.join(work, "installer-1024")
            run([os.path.join(bin_dir, "talve-pack"), "create", "-o", big_installer, "--launcher",
                 os.path.join(bin_dir, "talve-launcher"), "--jar", jar, "--data", payload], stdout=subprocess.DEVNULL)
            extract, removal, copy, copy_removal, inside = extraction_against_cp_rm(bin_dir, work, 5, big_installer,
                                                                                    payload)
            os.remove(payload)
            print(f"   1024 MB  extract {fmt(extract)} + rm {fmt(removal)}; extractFile alone {fmt(inside)}")
            print(f"            cp      {fmt(copy)} + rm {fmt(copy_removal)}")
            print(f"            ratio (extract + rm) / (cp + rm) {(extract[0] + removal[0]) / (copy[0] + copy_removal[0]):.2f}")
            shared, why = shared_extraction(bin_dir, work, 5, jar)
            if shared is None:
                print(f"  1024 MB on a block-sharing file system: not measured ({why})")
            else:
                kind, (extract, removal, copy, copy_removal, inside) = shared
                print(f"  1024 MB on a {kind} loop image (payload 4 KiB-aligned, blocks shared)")
                print(f"            extract {fmt(extract)} + rm {fmt(removal)}; extractFile alone {fmt(inside)}")
                print(f"            cp      {fmt(copy)} + rm {fmt(copy_removal)}")

        demo = os.path.join(work, "demo")
        run([os.path.join(ROOT, "scripts", "make-demo-installer.sh"), bin_dir, demo], stdout=subprocess.DEVNULL)
        runtimes = [("demo", os.path.join(demo, "runtime"), os.path.join(demo, "jvm"))]
        full_tree = full_runtime(work)
        full_packed = os.path.join(work, "full.jvm")
        run([os.path.join(bin_dir, "talve-pack"), "runtime", full_tree, "-o", full_packed, "--unpacker",
             os.path.join(bin_dir, "talve-unpack")], stdout=subprocess.DEVNULL)
        runtimes.append(("full", full_tree, full_packed))
        figures = {}
        for name, tree, packed in runtimes:
            sizes, times = runtime_figures(bin_dir, work, args.runs, name, tree, packed)
            figures[name] = (sizes, times)
            tree_bytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(tree) for f in files
                             if not os.path.islink(os.path.join(d, f)))
            print(f"\nruntime: {name} jlink runtime, {tree_bytes / 1e6:.1f} MB unpacked")
            print("  " + "; ".join(f"{kind} {size / 1e6:.2f} MB" +
                                   ("" if kind in ("packed", "archive alone")
                                    else f" (packed is {sizes['packed'] / size:.2f}x)")
                                   for kind, size in sizes.items()))
            for label, value in times.items():
                print(f"  {label:<26} {fmt(value, 'ms', 1000)}")
        unpack_dir = os.path.join(work, "memory-u")
        os.makedirs(unpack_dir)
        shutil.copy2(os.path.join(demo, "jvm"), os.path.join(unpack_dir, "jvm"))
        unpack_memory = peak_rss_kib(["./jvm", "-o"], cwd=unpack_dir)
        shutil.rmtree(unpack_dir)

        first = first_line(bin_dir, work, args.runs, demo)
        print("\ntime to the installer's first line (demo jar)")
        for label, value in first.items():
            print(f"  {label:<26} {fmt(value, 'ms', 1000)}")

        created = None
        if not args.skip_1g:
            created = create_against_cp(bin_dir, work, 5, jar)
            create, copy, create_memory = created
            print("\ntalve-pack create with a 1024 MB data jar against cp of the jar")
            print(f"  talve-pack create   {fmt(create)}   peak memory {create_memory} KiB")
            print(f"  cp                  {fmt(copy)}")

        temp = os.path.join(work, "temp")
        env = dict(os.environ, TEMP=temp, TMP=temp)
        print("\npeak resident memory")
        if big_installer:
            launcher_memory = peak_rss_kib([big_installer, "-javaHome", runtime, "-multipleInstance", "-noSplashScreen"],
                                           env=env, cwd=work)
            print(f"  launcher, 1024 MB extraction   {launcher_memory} KiB")
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

        other_bench_scripts(bin_dir)

        print("\ngoals")
        if "jpackage app-image" in first:
            print(goal("first line / jpackage app-image's", ratio(first["talve-launcher (demo)"], first["jpackage app-image"]), 0.8))
        for name, (sizes, times) in figures.items():
            print(goal(f"{name}: packed / tar.gz", sizes["packed"] / sizes["tar.gz"], 0.76))
            print(goal(f"{name}: archive alone / tar.gz", sizes["archive alone"] / sizes["tar.gz"], 0.76))
            print(goal(f"{name}: unpack / tar -xzf", ratio(times["talve-unpack -o"], times["tar -xzf"]), 0.2))
        print(goal("whole run - installer alone", (launcher[0] - child[0]) * 1000, 1, " ms"))
        if shared is not None:
            print(goal(f"1024 MB extraction on {shared[0]} (whole program)", shared[1][0][0], 0.1, " s"))
            print(goal(f"1024 MB extraction on {shared[0]} (extractFile alone)", shared[1][4][0], 0.1, " s"))
        if created is not None:
            print(goal("create 1024 MB / cp", ratio(created[0], created[1]), 1.5))
            print(goal("create 1024 MB peak memory", created[2] / 1024, 64, " MiB"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
