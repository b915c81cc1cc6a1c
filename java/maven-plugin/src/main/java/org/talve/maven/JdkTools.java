package org.talve.maven;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.Charset;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.TreeSet;

import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;

/** The JDK's jlink and jdeps, run as programs with their arguments as a list: nothing reaches a shell. */
final class JdkTools {
    private final File jdkHome;

    JdkTools(File jdkHome) {
        this.jdkHome = jdkHome;
    }

    File tool(String name) throws MojoFailureException {
        File bin = new File(jdkHome, "bin");
        File tool = new File(bin, name);
        if (!tool.isFile()) tool = new File(bin, name + ".exe");
        if (!tool.isFile()) {
            throw new MojoFailureException("Parameter 'jdkHome': " + jdkHome + " has no bin/" + name
                    + "; give a JDK 11 or later (a plain Java runtime has no " + name + ")");
        }
        return tool;
    }

    /**
     * The modules these jars need together ("java.base,java.desktop"). Each
     * jar is asked alone: given several, jdeps reports for some of them only.
     */
    String modulesOf(List<File> jars) throws MojoFailureException, MojoExecutionException {
        TreeSet<String> all = new TreeSet<>();
        for (File jar : jars) all.addAll(Arrays.asList(modulesOf(jar).split(",")));
        return String.join(",", all);
    }

    /** The modules a jar needs, as jdeps lists them ("java.base,java.desktop"). */
    String modulesOf(File jar) throws MojoFailureException, MojoExecutionException {
        List<String> command = new ArrayList<>();
        command.add(tool("jdeps").getPath());
        command.add("--print-module-deps");
        command.add("--ignore-missing-deps");
        command.add(jar.getPath());
        String out = run(command, "jdeps");
        String modules = out.trim();
        int lastLine = modules.lastIndexOf('\n');
        if (lastLine >= 0) modules = modules.substring(lastLine + 1).trim();
        if (!modules.matches("[A-Za-z0-9_.]+(,[A-Za-z0-9_.]+)*")) {
            throw new MojoFailureException("jdeps found no module list for " + jar + " (it printed: " + out.trim()
                    + "); give the modules with the 'modules' parameter");
        }
        return modules;
    }

    void jlink(String modules, List<String> options, File output) throws MojoFailureException, MojoExecutionException {
        List<String> command = new ArrayList<>();
        command.add(tool("jlink").getPath());
        command.add("--add-modules");
        command.add(modules);
        command.addAll(options);
        command.add("--output");
        command.add(output.getPath());
        run(command, "jlink");
    }

    private static String run(List<String> command, String name) throws MojoFailureException, MojoExecutionException {
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        try {
            Process process = builder.start();
            process.getOutputStream().close();
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            try (InputStream in = process.getInputStream()) {
                byte[] buffer = new byte[8192];
                for (int n; (n = in.read(buffer)) > 0;) out.write(buffer, 0, n);
            }
            int code = process.waitFor();
            String text = new String(out.toByteArray(), Charset.defaultCharset());
            if (code != 0) throw new MojoFailureException(name + " failed with exit code " + code + ": " + text.trim() + "\n(ran " + command + ")");
            return text;
        } catch (IOException e) {
            throw new MojoExecutionException("Cannot run " + command.get(0) + ": " + e.getMessage(), e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new MojoExecutionException(name + " was interrupted", e);
        }
    }
}
