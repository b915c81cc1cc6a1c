package org.talve.installer;

import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.Map;
import java.util.Properties;

/**
 * The installer jar of the end-to-end tests: does what the plan file named by
 * TALVE_TEST_PLAN says, through the library, and reports what it was given.
 */
public final class ProbeInstaller {
    private ProbeInstaller() {
    }

    public static void main(String[] args) throws Exception {
        Properties plan = load(Paths.get(System.getenv("TALVE_TEST_PLAN")));
        LauncherContext launcher = LauncherContext.current();
        Properties report = new Properties();
        report.setProperty("underLauncher", Boolean.toString(LauncherContext.isUnderLauncher()));
        put(report, "arg.", launcher.arguments());
        put(report, "mine.", launcher.installerArguments());
        for (Map.Entry<String, String> option : launcher.launcherOptions().entrySet())
            report.setProperty("option" + option.getKey(), option.getValue());
        report.setProperty("temp", launcher.temporaryDirectory().toString());
        report.setProperty("launchDirectory", launcher.launchDirectory().toString());
        report.setProperty("launcherFile", launcher.launcherFile().toString());
        report.setProperty("runtimeHome", launcher.runtimeHome().toString());
        if (launcher.userKey().isPresent()) report.setProperty("userKey", launcher.userKey().get());
        if (launcher.silentFile().isPresent()) {
            SilentAnswers answers = launcher.silentAnswers();
            for (Map.Entry<String, String> answer : answers.asMap().entrySet())
                report.setProperty("answer." + answer.getKey(), answer.getValue());
        }

        CommunicationFile comm = launcher.communicationFile();
        for (int i = 0; plan.containsKey("comm.key." + i); ++i) {
            String key = plan.getProperty("comm.key." + i);
            String value = plan.getProperty("comm.value." + i);
            if (plan.containsKey("comm.references." + i)) comm.setWithReferences(key, value);
            else comm.set(key, value);
        }
        if (plan.containsKey("comm.key.0")) comm.write();

        ExitScript script = launcher.exitScript();
        for (int i = 0; plan.containsKey("script." + i + ".0"); ++i) {
            java.util.List<String> words = new java.util.ArrayList<>();
            for (int w = 0; plan.containsKey("script." + i + "." + w); ++w) words.add(plan.getProperty("script." + i + "." + w));
            script.add(words);
        }
        if (plan.containsKey("script.0.0")) script.write();

        if (launcher.recordFile().isPresent()) {
            RecordWriter record = launcher.recordWriter();
            for (String name : plan.stringPropertyNames()) {
                if (name.startsWith("record.plain.")) record.put(name.substring(13), plan.getProperty(name));
                if (name.startsWith("record.sensitive.")) record.putSensitive(name.substring(17), plan.getProperty(name));
            }
            record.write();
        }

        if (plan.containsKey("install.home")) {
            Path home = Paths.get(plan.getProperty("install.home"));
            ProductRecords.copyRuntime(launcher.runtimeHome(), home);
            launcher.productRecords().writeRecord(plan.getProperty("install.product"), home);
        }

        try (OutputStream out = Files.newOutputStream(Paths.get(plan.getProperty("report")))) {
            report.storeToXML(out, null, "UTF-8");
        }
        System.exit(Integer.parseInt(plan.getProperty("exit", "0")));
    }

    static Properties load(Path file) throws java.io.IOException {
        Properties properties = new Properties();
        try (InputStream in = Files.newInputStream(file)) {
            properties.loadFromXML(in);
        }
        return properties;
    }

    private static void put(Properties report, String prefix, List<String> values) {
        report.setProperty(prefix + "count", Integer.toString(values.size()));
        for (int i = 0; i < values.size(); ++i) report.setProperty(prefix + i, values.get(i));
    }
}
