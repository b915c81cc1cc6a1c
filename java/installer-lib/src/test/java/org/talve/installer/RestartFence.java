package org.talve.installer;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Runs a command in a private mount namespace where every system shutdown
 * program is a recording fake, so that a run ending with the restart code
 * can restart nothing, whether the launcher finds shutdown on PATH or by its
 * system path. The fence checks itself before it starts the command and
 * exits with {@link #UNAVAILABLE} when it cannot be made.
 */
final class RestartFence {
    static final int UNAVAILABLE = 125;
    private static final String SCRIPT = "fake=$1; shift; (PATH=/usr/bin:/bin:/usr/sbin:/sbin;"
        + " for d in $(for p in /usr/sbin/shutdown /sbin/shutdown; do q=$(dirname \"$p\"); [ -d \"$q\" ] && readlink -f \"$q\"; done | sort -u); do"
        + " mount -t tmpfs -o mode=0755 talve-fence \"$d\" && cp \"$fake\" \"$d/shutdown\" && chmod 0755 \"$d/shutdown\" || exit 125; done;"
        + " for p in /usr/sbin/shutdown /sbin/shutdown; do [ ! -e \"$p\" ] || cmp -s \"$fake\" \"$p\" || exit 125; done) || exit 125;"
        + " exec \"$@\"";

    private RestartFence() {
    }

    static List<String> around(Path fake, String... command) {
        boolean root = "root".equals(System.getProperty("user.name"));
        List<String> words = new ArrayList<>(Arrays.asList("unshare", root ? "-m" : "-rm", "/bin/sh", "-c", SCRIPT,
            "talve-fence", fake.toString()));
        words.addAll(Arrays.asList(command));
        return words;
    }
}
