#!/usr/bin/perl
# A line-by-line Perl folder of `perf script` text, written for side-by-side timing of
# `qx import` against the way the flame graph folding tools work: one regular expression match
# per line, symbol clean-up per frame, a hash of folded stacks, sorted output. It is a yardstick
# for speed, not a reference for output (Tests/Data/perf-script holds the expected files).
#
# Usage: fold-perf-script.pl [FILE] > folded.txt
use strict;
use warnings;

my %collapsed;
my @stack;
my $pname;
my $period = 1;
my $event_filter = "";
my $in_record = 0;

sub remember_stack {
    my ($stack, $count) = @_;
    $collapsed{$stack} += $count;
}

sub flush_record {
    if ($in_record && @stack) {
        unshift @stack, $pname;
        remember_stack(join(";", @stack), $period);
    }
    undef @stack;
    undef $pname;
    $in_record = 0;
}

while (defined(my $line = <>)) {
    next if $line =~ /^#/;
    chomp $line;

    if ($line =~ /^\s*$/) {
        flush_record();
        next;
    }

    # Record header: COMM [PID/]TID [CPU] [TIME:] [PERIOD] [EVENT:] ...
    if ($line =~ /^(\S.+?)\s+(\d+)\/*(\d+)*\s+/) {
        flush_record();
        my $comm = $1;
        my ($count, $event) = (undef, "");
        if ($line =~ /:\s*(\d+)*\s+(\S+):\s*/) {
            ($count, $event) = ($1, $2);
        }
        $event_filter = $event if $event_filter eq "";
        if ($event ne $event_filter) {
            $in_record = 0;
            next;
        }
        $comm =~ s/^\s+//;
        $comm =~ tr/ /_/;
        $pname = $comm;
        $period = defined $count && $count > 0 ? $count : 1;
        $in_record = 1;
        next;
    }

    next unless $in_record;

    # Frame: ADDR SYMBOL[+0xOFF] (DSO)
    if ($line =~ /^\s*(\w+)\s*(.+) \((\S*)\)/) {
        my ($pc, $rawfunc, $mod) = ($1, $2, $3);
        next if $rawfunc =~ /^\(/;
        $rawfunc =~ s/\+0x[\da-f]+$//;
        my @inline;
        for my $func (split(/->/, $rawfunc)) {
            if ($func eq "[unknown]") {
                if ($mod ne "[unknown]") {
                    $func = $mod;
                    $func =~ s/.*\///;
                    $func = "\[$func\]";
                }
            }
            $func =~ tr/;/:/;
            if ($func !~ m/\.\(.*\)\./) {
                $func =~ s/\((?!anonymous namespace\)).*//;
            }
            $func =~ tr/"\'//d;
            push @inline, $func;
        }
        unshift @stack, @inline;
    }
}
flush_record();

foreach my $k (sort { $a cmp $b } keys %collapsed) {
    print "$k $collapsed{$k}\n";
}
