package org.talve.maven;

import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.project.MavenProject;

/** What both goals take: the project, the target system and the switch that skips them. */
abstract class TalveMojo extends AbstractMojo {
    @Parameter(defaultValue = "${project}", readonly = true, required = true)
    protected MavenProject project;

    /** The system the installer runs on: linux or windows. */
    @Parameter(property = "talve.target", defaultValue = "linux")
    protected String target;

    @Parameter(property = "talve.skip", defaultValue = "false")
    protected boolean skip;

    @Override
    public final void execute() throws MojoExecutionException, MojoFailureException {
        if (skip) {
            getLog().info("Skipped: skip is set");
            return;
        }
        run(Target.parse(target));
    }

    abstract void run(Target system) throws MojoExecutionException, MojoFailureException;
}
