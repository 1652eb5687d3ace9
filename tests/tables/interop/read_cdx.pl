#!/usr/bin/perl
# Reads a compound index file with XBase::Index and a table in a tag's order with DBD::XBase.
#   read_cdx.pl tags FILE              the tag names, in directory order, one a line
#   read_cdx.pl pairs FILE TAG KIND    "key record" per entry in key order; KIND is C, N (numbers
#                                      as %.4f) or D (the day number as YYYYMMDD)
#   read_cdx.pl table DBF CDX TAG KIND FIELD
#                                      "record value" per live record in the tag's order, the
#                                      value of FIELD as XBase reads it from the table (numbers
#                                      as %.4f)
use strict;
use warnings;
use XBase;
use XBase::Index;

# A Julian day number as YYYYMMDD (Gregorian calendar), without Time::JulianDay.
sub julian_to_ymd {
  my ($jd) = @_;
  my $a = $jd + 32044;
  my $b = int((4 * $a + 3) / 146097);
  my $c = $a - int(146097 * $b / 4);
  my $d = int((4 * $c + 3) / 1461);
  my $e = $c - int(1461 * $d / 4);
  my $m = int((5 * $e + 2) / 153);
  my $day = $e - int((153 * $m + 2) / 5) + 1;
  my $month = $m + 3 - 12 * int($m / 10);
  my $year = 100 * $b + $d - 4800 + int($m / 10);
  return sprintf '%04d%02d%02d', $year, $month, $day;
}

sub show_key {
  my ($key, $kind) = @_;
  return sprintf('%.4f', $key) if $kind eq 'N';
  return julian_to_ymd($key) if $kind eq 'D';
  return $key;
}

my $mode = shift @ARGV;
if ($mode eq 'tags') {
  my ($file) = @ARGV;
  # The reader opens the first tag as well and wants a key type for it: any will do.
  my $index = XBase::Index->new($file, type => 'C') or die XBase::Index->errstr;
  print map { "$_\n" } $index->tags;
} elsif ($mode eq 'pairs') {
  my ($file, $tag, $kind) = @ARGV;
  # Dates are read as the numbers they are stored as.
  my $index = XBase::Index->new($file, tag => $tag, type => ($kind eq 'C' ? 'C' : 'N'))
    or die XBase::Index->errstr;
  $index->prepare_select or die $index->errstr;
  while (my ($key, $record) = $index->fetch) { print show_key($key, $kind), " $record\n"; }
} elsif ($mode eq 'table') {
  my ($dbf, $cdx, $tag, $kind, $field) = @ARGV;
  my $table = XBase->new($dbf) or die XBase->errstr;
  my $cursor = $table->prepare_select_with_index([$cdx, $tag, ($kind eq 'C' ? 'C' : 'N')], $field)
    or die $table->errstr;
  while (my ($value) = $cursor->fetch) {
    # last_fetched counts from 0; record numbers in the index from 1.
    $value = sprintf('%.4f', $value) if $kind eq 'N';
    print $cursor->last_fetched + 1, " $value\n";
  }
} else {
  die "unknown mode $mode\n";
}
