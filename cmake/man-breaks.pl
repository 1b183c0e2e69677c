#!/usr/bin/perl
# Copies the Chinese manual page, putting a break point (\:) after each
# Chinese character so that groff can fill Chinese paragraphs without
# warnings. No break after an opening bracket or quote, none before a
# closing mark. Comment and .TH lines are copied unchanged.
use strict;
use warnings;
use open qw(:std :encoding(UTF-8));

my $cjk = qr/[\x{3001}-\x{3009}\x{3011}\x{4E00}-\x{9FFF}\x{FF01}-\x{FF07}\x{FF09}-\x{FFEF}]/;
my $closing = qr/[\x{3001}\x{3002}\x{3009}\x{300B}\x{300D}\x{3011}\x{FF01}\x{FF09}\x{FF0C}\x{FF1A}\x{FF1B}\x{FF1F}\x{201D}\x{2026}]/;
while (my $line = <STDIN>) {
    $line =~ s/($cjk)(?!$closing)(?!\n)/$1\\:/g unless $line =~ /^\.(\\"|TH\b)/;
    print $line;
}
