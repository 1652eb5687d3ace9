# Prints a table through Perl's XBase (the reader of DBD::XBase), in the form of common.py.
use strict;
use warnings;
use XBase;
use POSIX qw(strftime);
use Encode qw(decode);

my $table = XBase->new($ARGV[0]) or die XBase->errstr;
my @names = $table->field_names;
my @types = map { $table->field_type($_) } @names;
binmode STDOUT, ':encoding(UTF-8)';
for my $n (0 .. $table->last_record) {
    my @values = $table->get_record($n);
    my $deleted = shift @values;
    next if $deleted;
    print "record ", $n + 1, "\n";
    for my $i (0 .. $#names) {
        my ($type, $v) = ($types[$i], $values[$i]);
        my $out = '';
        if (defined $v && $v ne '') {
            # XBase unpacks integer fields as unsigned numbers.
            if ($type eq 'I') { $out = $v >= 2**31 ? $v - 2**32 : $v }
            elsif ($type =~ /^[NFBY]$/) { $out = sprintf '%.4f', $v }
            elsif ($type eq 'D') { $out = substr($v, 0, 4) . '-' . substr($v, 4, 2) . '-' . substr($v, 6, 2) }
            elsif ($type eq 'T') { $out = strftime('%Y-%m-%d %H:%M:%S', gmtime($v + 0.5)) }
            elsif ($type eq 'L') { $out = $v ? 'T' : 'F' }
            else { ($out = decode('cp1252', $v)) =~ s/\s+$// }
        }
        print uc($names[$i]), "=", $out, "\n";
    }
}
