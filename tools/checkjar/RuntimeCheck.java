import java.io.IOException;
import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Optional;

/**
 * The runtime-checking jar of talve installers. The launcher runs it with a
 * Java runtime it found on the machine, as
 * {@code java -jar check.jar req.txt}, and reuses that runtime only when
 * this program exits with 32.
 *
 * <p>The requirement file holds one requirement per line, {@code key=value};
 * blank lines and lines starting with {@code #} are ignored:
 * <ul>
 * <li>{@code java.feature.min=N}: the Java feature release is N or later
 * (8 for 1.8, 17 for 17.0.2);
 * <li>{@code java.feature.max=N}: the feature release is N or earlier;
 * <li>{@code java.vendor.contains=TEXT}: the {@code java.vendor} property
 * contains TEXT (case-sensitive);
 * <li>{@code module=NAME}: the runtime holds the module NAME (a runtime
 * without modules, Java 8, holds none).
 * </ul>
 *
 * <p>Exit codes: 32 every requirement is met; 33 at least one is not (each
 * is named on standard error); 34 the requirement file is missing,
 * unreadable or holds a line it cannot use. It never exits with 1, which the
 * launcher reports as a failed program. Compiled for Java 8, so that it
 * answers on old runtimes too instead of failing to load.
 */
public final class RuntimeCheck {
    static final int ACCEPTED = 32;
    static final int NOT_MET = 33;
    static final int BAD_REQUIREMENTS = 34;
    static final List<String> KEYS =
            Arrays.asList("java.feature.min", "java.feature.max", "java.vendor.contains", "module");

    private RuntimeCheck() {}

    public static void main(String[] args) {
        int code;
        try {
            code = run(args);
        } catch (Throwable unexpected) {
            System.err.println("runtime check: " + unexpected);
            code = BAD_REQUIREMENTS;
        }
        System.exit(code);
    }

    static int run(String[] args) {
        if (args.length != 1) {
            System.err.println("usage: java -jar check.jar REQUIREMENT_FILE");
            return BAD_REQUIREMENTS;
        }
        List<String> lines;
        try {
            lines = Files.readAllLines(Paths.get(args[0]), StandardCharsets.UTF_8);
        } catch (IOException | RuntimeException e) {
            System.err.println("runtime check: cannot read the requirement file " + args[0] + ": " + e);
            return BAD_REQUIREMENTS;
        }
        List<String> unmet = new ArrayList<>();
        for (int i = 0; i < lines.size(); i++) {
            String line = lines.get(i).trim();
            if (i == 0 && line.startsWith("\uFEFF")) line = line.substring(1).trim();
            if (line.isEmpty() || line.startsWith("#")) continue;
            String where = args[0] + " line " + (i + 1) + ": ";
            int equals = line.indexOf('=');
            if (equals < 0) {
                System.err.println(where + "'" + line + "' is not key=value");
                return BAD_REQUIREMENTS;
            }
            String key = line.substring(0, equals).trim();
            String value = line.substring(equals + 1).trim();
            if (!KEYS.contains(key)) {
                System.err.println(where + "unknown requirement '" + key + "' (known: " + KEYS + ")");
                return BAD_REQUIREMENTS;
            }
            Boolean met = meets(key, value);
            if (met == null) {
                System.err.println(where + "'" + value + "' is not a value for " + key);
                return BAD_REQUIREMENTS;
            }
            if (!met) unmet.add(line);
        }
        for (String requirement : unmet) System.err.println("runtime check: not met: " + requirement);
        System.out.println("runtime check: " + describeRuntime() + (unmet.isEmpty() ? " fits" : " does not fit"));
        return unmet.isEmpty() ? ACCEPTED : NOT_MET;
    }

    /** Whether this runtime meets one requirement of a known key; null for a value that means nothing. */
    static Boolean meets(String key, String value) {
        switch (key) {
            case "java.feature.min": {
                Integer wanted = featureNumber(value);
                return wanted == null ? null : featureRelease() >= wanted;
            }
            case "java.feature.max": {
                Integer wanted = featureNumber(value);
                return wanted == null ? null : featureRelease() <= wanted;
            }
            case "java.vendor.contains":
                return value.isEmpty() ? null : System.getProperty("java.vendor", "").contains(value);
            case "module":
                return value.isEmpty() ? null : hasModule(value);
            default:
                return null;
        }
    }

    private static Integer featureNumber(String text) {
        if (!text.matches("[0-9]{1,4}")) return null;
        return Integer.valueOf(text);
    }

    /** 8 for "1.8", 17 for "17". */
    static int featureRelease() {
        String specification = System.getProperty("java.specification.version", "0");
        if (specification.startsWith("1.")) specification = specification.substring(2);
        int dot = specification.indexOf('.');
        if (dot >= 0) specification = specification.substring(0, dot);
        try {
            return Integer.parseInt(specification);
        } catch (NumberFormatException e) {
            return 0;
        }
    }

    /** Looked up by reflection: the module API does not exist on Java 8. */
    static boolean hasModule(String name) {
        try {
            Class<?> layerClass = Class.forName("java.lang.ModuleLayer");
            Object boot = layerClass.getMethod("boot").invoke(null);
            Method findModule = layerClass.getMethod("findModule", String.class);
            return ((Optional<?>) findModule.invoke(boot, name)).isPresent();
        } catch (ReflectiveOperationException e) {
            return false;
        }
    }

    private static String describeRuntime() {
        return "Java " + System.getProperty("java.version") + " (" + System.getProperty("java.vendor") + ") in "
                + System.getProperty("java.home");
    }
}
