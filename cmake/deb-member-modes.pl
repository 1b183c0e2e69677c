#!/usr/bin/perl
# Gives every member of the Debian packages named on the command line the
# mode 100644 in the package's ar header, as dpkg-deb writes it: CPack takes
# the mode of the files it made, which follows the umask of the build.
use strict;
use warnings;

for my $path (@ARGV) {
    open(my $f, '+<:raw', $path) or die "$path: $!\n";
    my ($magic, $header);
    (read($f, $magic, 8) // 0) == 8 && $magic eq "!<arch>\n"
        or die "$path: not an ar archive\n";
    my $at = 8;
    while ((read($f, $header, 60) // 0) == 60) {
        substr($header, 58, 2) eq "`\n" or die "$path: no member header at byte $at\n";
        my $size = substr($header, 48, 10);
        $size =~ /^\s*(\d+)\s*$/ or die "$path: no member size at byte $at\n";
        seek($f, $at + 40, 0) or die "$path: $!\n";
        print $f "100644  " or die "$path: $!\n";
        $at += 60 + $1 + ($1 % 2);
        seek($f, $at, 0) or die "$path: $!\n";
    }
    close($f) or die "$path: $!\n";
}
